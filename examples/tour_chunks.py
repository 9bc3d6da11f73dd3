"""iter_chunk: any iterable read lazily as lists of at most `chunk_size` items."""
from velnor_lib import ChunksIter, iter_chunk


def tour_chunks():
    print("== iter_chunk ==")
    print("range(7) by 3       ", list(iter_chunk(range(7), 3)))
    print("a string by 2       ", list(iter_chunk("chunk", 2)))
    print("None is an item     ", list(iter_chunk([1, None, 2], 2)))
    print("keywords            ", list(iter_chunk(iter=range(4), chunk_size=4)))
    numbers = iter(range(6))
    chunks = iter_chunk(numbers, 2)
    print("lazy: first chunk   ", next(chunks), "then the source gives", next(numbers))
    print("type                ", type(chunks).__name__, type(chunks) is ChunksIter, iter(chunks) is chunks)
    print("after the end       ", list(chunks), next(chunks, "<end>"), next(chunks, "<still the end>"))

    def flaky():
        yield "lost"
        raise KeyError("source failed")

    failing = iter_chunk(flaky(), 5)
    try:
        next(failing)
    except KeyError as error:
        print("source error        ", repr(error), "(the partial chunk is dropped)")
    try:
        iter_chunk([1], 0)
    except ValueError as error:
        print("chunk_size 0        ", error)


if __name__ == "__main__":
    tour_chunks()
