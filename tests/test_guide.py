"""The user guide's examples run as written, so the guide cannot drift from the module."""

import doctest
import pathlib

import velnor_lib

GUIDE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "guide.md"


class GuideParser(doctest.DocTestParser):
    """The guide shows tracebacks as Python 3.11 and later print them, with the exception's notes on the lines
    after its message. Before 3.11 exceptions have no notes, so there the message alone is compared."""

    def get_examples(self, string, name="<string>"):
        examples = super().get_examples(string, name)
        if not hasattr(BaseException, "add_note"):
            for example in examples:
                if example.exc_msg is not None:
                    example.exc_msg = example.exc_msg.splitlines(keepends=True)[0]
        return examples


def guide_examples():
    return GuideParser().get_examples(GUIDE.read_text(encoding="utf-8"))


def test_every_example_of_the_guide_gives_the_output_shown():
    result = doctest.testfile(
        str(GUIDE),
        module_relative=False,
        encoding="utf-8",
        optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
        raise_on_error=False,
        verbose=False,
        parser=GuideParser(),
    )
    assert result.failed == 0, f"{result.failed} of {result.attempted} guide examples failed (report above)"
    assert result.attempted == len(guide_examples())


def test_every_name_of_the_module_is_shown_at_work():
    sources = "".join(example.source for example in guide_examples())
    missing = [name for name in velnor_lib.__all__ if name not in sources]
    assert missing == []
