"""Argument binding, the argument prefix rule and the converters' failures, as any caller meets them."""
import pytest

from velnor_lib import Interval, Span, iter_chunk, match_indices, utf16len


def message_of(call):
    with pytest.raises(TypeError) as error:
        call()
    return str(error.value)


@pytest.mark.parametrize(
    "call, message",
    [
        # too many positionals, every parameter required
        (lambda: utf16len("a", "b"), "utf16len() takes 1 positional arguments but 2 were given"),
        (lambda: match_indices("a", "b", "c"), "match_indices() takes 2 positional arguments but 3 were given"),
        (lambda: iter_chunk([], 1, 2, 3), "iter_chunk() takes 2 positional arguments but 4 were given"),
        (lambda: Span().isdisjoint(Span(), Span()), "Span.isdisjoint() takes 1 positional arguments but 2 were given"),
        # too many positionals, some parameters optional
        (lambda: Span([], []), "Span.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda: Interval([], [], []), "Interval.__new__() takes from 0 to 1 positional arguments but 3 were given"),
        # a keyword repeats a bound parameter
        (lambda: utf16len("a", string="b"), "utf16len() got multiple values for argument 'string'"),
        (lambda: Span([], input=None), "Span.__new__() got multiple values for argument 'input'"),
        (lambda: match_indices("a", "b", substring="c"), "match_indices() got multiple values for argument 'substring'"),
        # unknown keywords
        (lambda: utf16len(text="a"), "utf16len() got an unexpected keyword argument 'text'"),
        (lambda: Span(inpt=1), "Span.__new__() got an unexpected keyword argument 'inpt'"),
        (lambda: Span().union(other=Span()), "Span.union() got an unexpected keyword argument 'other'"),
        (lambda: Interval().difference_update(others=()), "Interval.difference_update() got an unexpected keyword argument 'others'"),
        (lambda: Span().issubset(Span(), another=1), "Span.issubset() got an unexpected keyword argument 'another'"),
        (lambda: utf16len(**{"stríng": "a"}), "utf16len() got an unexpected keyword argument 'stríng'"),
        # required parameters missing
        (lambda: match_indices(), "match_indices() missing 2 required positional arguments: 'string' and 'substring'"),
        (lambda: match_indices("abc"), "match_indices() missing 1 required positional argument: 'substring'"),
        (lambda: match_indices(substring="b"), "match_indices() missing 1 required positional argument: 'string'"),
        (lambda: iter_chunk(), "iter_chunk() missing 2 required positional arguments: 'iter' and 'chunk_size'"),
        (lambda: Interval().issuperset(), "Interval.issuperset() missing 1 required positional argument: 'other'"),
    ],
)
def test_binding_messages(call, message):
    assert message_of(call) == message


@pytest.mark.parametrize(
    "call, message",
    [
        # too many positionals are reported before any keyword problem
        (lambda: utf16len("a", "b", text=1), "utf16len() takes 1 positional arguments but 2 were given"),
        # keyword problems are reported before missing parameters
        (lambda: match_indices(bogus=1), "match_indices() got an unexpected keyword argument 'bogus'"),
        # the first offending keyword in dictionary order decides
        (lambda: match_indices(**{"x": 1, "string": "a", "y": 2}), "match_indices() got an unexpected keyword argument 'x'"),
        (lambda: match_indices("a", **{"string": "a", "y": 2}), "match_indices() got multiple values for argument 'string'"),
        # binding fails before any conversion
        (lambda: match_indices(5, 6, 7), "match_indices() takes 2 positional arguments but 3 were given"),
    ],
)
def test_binding_precedence(call, message):
    assert message_of(call) == message


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: iter_chunk(iter=[1, 2], chunk_size=1), [[1], [2]]),
        (lambda: iter_chunk(chunk_size=2, iter=[1, 2]), [[1, 2]]),
        (lambda: match_indices(substring="a", string="banana"), [1, 3, 5]),
        (lambda: Span(input=[(1, 2)]).segments, [(1, 2)]),
        (lambda: Span().union().segments, []),
        (lambda: [Span([(1, 1)]).issubset(other=Span([(0, 3)]))], [True]),
    ],
)
def test_keywords_bind_like_positionals(call, expected):
    assert list(call()) == expected


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: utf16len(5), "argument 'string': 'int' object cannot be converted to 'PyString'"),
        (lambda: utf16len(b"abc"), "argument 'string': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: match_indices(None, None), "argument 'string': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda: match_indices("a", 1.5), "argument 'substring': 'float' object cannot be converted to 'PyString'"),
        (lambda: iter_chunk([], 1.5), "argument 'chunk_size': 'float' object cannot be interpreted as an integer"),
        (lambda: iter_chunk([], "3"), "argument 'chunk_size': 'str' object cannot be interpreted as an integer"),
        (lambda: Span().isdisjoint(5), "argument 'other': 'int' object cannot be converted to 'Span'"),
        (lambda: Span().issubset(Interval()), "argument 'other': 'Interval' object cannot be converted to 'Span'"),
        (lambda: Interval().issuperset([]), "argument 'other': 'list' object cannot be converted to 'Interval'"),
        # members of `others` are converted by the operation itself: no prefix
        (lambda: Span().union(5), "'int' object cannot be converted to 'Span'"),
        (lambda: Span().difference_update(Span(), [(1, 2)]), "'list' object cannot be converted to 'Span'"),
        (lambda: Interval().intersection(Span()), "'Span' object cannot be converted to 'Interval'"),
    ],
)
def test_conversion_failures(call, message):
    assert message_of(call) == message


class Unlucky:
    """An index whose conversion fails with a chosen exception."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def test_prefix_keeps_the_cause():
    cause = ValueError("root")
    error = TypeError("no index today")
    error.__cause__ = cause
    with pytest.raises(TypeError) as raised:
        iter_chunk([], Unlucky(error))
    assert str(raised.value) == "argument 'chunk_size': no index today"
    assert raised.value.__cause__ is cause
    assert raised.value is not error


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize(
    "error",
    [TypeErrorSubclass("sub"), ValueError("value"), OverflowError("big"), RuntimeError("run"), KeyError("key")],
)
def test_only_exact_type_errors_get_the_prefix(error):
    with pytest.raises(type(error)) as raised:
        iter_chunk([], Unlucky(error))
    assert raised.value is error


@pytest.mark.parametrize("value", [-1, -(2**70), 2**64, 2**100])
def test_size_conversion_overflow_is_the_interpreters(value):
    with pytest.raises(OverflowError) as raised:
        iter_chunk([], value)
    assert not str(raised.value).startswith("argument")


def test_surrogates_raise_the_interpreters_encode_error_unchanged():
    with pytest.raises(UnicodeEncodeError) as raised:
        utf16len("a\ud800b")
    assert raised.value.encoding == "utf-8"
    assert not str(raised.value).startswith("argument")


def test_methods_without_parameters_refuse_arguments_through_the_interpreter():
    with pytest.raises(TypeError):
        Span().copy(1)
    with pytest.raises(TypeError):
        Interval().copy(x=1)
    with pytest.raises(TypeError):
        Span().to_interval(1)
