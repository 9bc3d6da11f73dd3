"""A short tour of every feature of velnor_lib: run `python examples/tour.py`."""
import velnor_lib
from tour_span import tour_span


def main():
    print(f"velnor_lib {velnor_lib.__version__}: {', '.join(velnor_lib.__all__)}")
    print()
    tour_span()


if __name__ == "__main__":
    main()
