"""Argument binding, the argument prefix rule and the converters' failures, as any caller meets them."""
import ctypes
import functools

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
        # names of the right length that differ only beyond ASCII, or hold a NUL, match nothing
        (lambda: utf16len(**{"strïng": "a"}), "utf16len() got an unexpected keyword argument 'strïng'"),
        (lambda: utf16len(**{"strin\0": "a"}), "utf16len() got an unexpected keyword argument 'strin\0'"),
        (lambda: utf16len(**{"string\0": "a"}), "utf16len() got an unexpected keyword argument 'string\0'"),
        (lambda: utf16len(**{"\ud800": "a"}), "utf16len() got an unexpected keyword argument '\ud800'"),
        (lambda: Span(**{"inpüt": 1}), "Span.__new__() got an unexpected keyword argument 'inpüt'"),
        (lambda: Span().union(Span(), Span(), Span(), x=1), "Span.union() got an unexpected keyword argument 'x'"),
        (lambda: Interval().isdisjoint(Interval(), other=Interval()),
         "Interval.isdisjoint() got multiple values for argument 'other'"),
        (lambda: Span().intersection_update(**{"": 1}), "Span.intersection_update() got an unexpected keyword argument ''"),
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
        (lambda: match_indices("a", y=2, **{"string": "a"}), "match_indices() got an unexpected keyword argument 'y'"),
        (lambda: match_indices(**KeywordDict(y=1, string="a")), "match_indices() got an unexpected keyword argument 'y'"),
        (lambda: functools.partial(utf16len, string="a")("b"), "utf16len() got multiple values for argument 'string'"),
        (lambda: Span().issubset(1, 2, other=3), "Span.issubset() takes 1 positional arguments but 2 were given"),
        # binding fails before any conversion
        (lambda: match_indices(5, 6, 7), "match_indices() takes 2 positional arguments but 3 were given"),
    ],
)
def test_binding_precedence(call, message):
    assert message_of(call) == message


class KeywordDict(dict):
    """A dict subclass whose overrides the interpreter ignores when it unpacks `**` into a call."""

    def keys(self):
        return reversed(list(super().keys()))


class KeyString(str):
    pass


def c_call(function, args, kwargs):
    """PyObject_Call from C: the one way to pass a keyword dictionary the interpreter has not checked."""
    call = ctypes.pythonapi.PyObject_Call
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object] * 3
    return call(function, args, kwargs)


@pytest.mark.parametrize(
    "function, args",
    [(utf16len, ()), (match_indices, ("a",)), (Span().issubset, ()), (Span().union, ()), (Span, ()), (Interval, ())],
)
@pytest.mark.parametrize("key", [1, None, b"input", (1, 2)])
def test_keys_that_are_not_str_are_refused(function, args, key):
    assert message_of(lambda: c_call(function, args, {key: 1})) == "keywords must be strings"


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: c_call(utf16len, (), {KeyString("string"): "abc"}), 3),
        (lambda: c_call(match_indices, ("banana",), {"substring": "a"}), [1, 3, 5]),
        (lambda: c_call(Span, (), KeywordDict(input=[(1, 2)])).segments, [(1, 2)]),
        (lambda: match_indices(**KeywordDict(substring="an", string="banana")), [1, 3]),
        (lambda: functools.partial(match_indices, substring="na")("banana"), [2, 4]),
        (lambda: Span([(0, 9)]).issuperset(**{KeyString("other"): Span([(2, 3)])}), True),
        (lambda: Span([(0, 1)]).union(*[Span([(i, i)]) for i in range(2, 40, 2)]).segments,
         [(0, 2), *[(i, i) for i in range(4, 40, 2)]]),
    ],
)
def test_unusual_keyword_sources_bind_like_plain_ones(call, expected):
    assert call() == expected


class Clearing:
    """An index that empties the dictionary the call's keywords came from, and drops what it held."""

    def __init__(self, victim):
        self.victim = victim

    def __index__(self):
        self.victim.clear()
        return 1


def test_keyword_values_live_while_python_code_runs_during_the_call():
    kwargs = {"iter": [1, 2, 3], "chunk_size": None}
    kwargs["chunk_size"] = Clearing(kwargs)
    assert list(iter_chunk(**kwargs)) == [[1], [2], [3]]


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
