"""The module object: registration order, version, and the traits every class shares."""
import array
import importlib.util
import operator
import os
import pickle
import struct
import subprocess
import sys
import sysconfig
import weakref

import pytest

import velnor_lib

ALL_NAMES = [
    "match_indices",
    "match_utf16_indices",
    "match_byte_indices",
    "rmatch_indices",
    "rmatch_utf16_indices",
    "rmatch_byte_indices",
    "utf16len",
    "Interval",
    "Span",
    "ChunksIter",
    "iter_chunk",
    "__version__",
]
CLASSES = [
    ("Span", "A class used to represent spans."),
    ("Interval", "A class used to represent intervals."),
    ("ChunksIter", None),
]
FUNCTIONS = [name for name in ALL_NAMES if name[0].islower() and not name.startswith("__")]


def test_all_lists_every_name_in_registration_order():
    assert velnor_lib.__all__ == ALL_NAMES


def test_version():
    assert velnor_lib.__version__ == "0.3.0-beta6"


def test_module_name_and_docstring():
    # Every build names the module the same, whether it comes from a definition object or from slots.
    assert velnor_lib.__name__ == "velnor_lib"
    assert velnor_lib.__doc__ == (
        "Integer spans, real intervals, text match indices and chunked iteration, implemented in native code."
    )


@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="free-threaded interpreters only")
def test_import_leaves_the_gil_off():
    # Nothing forces the GIL off here: a module that does not declare itself safe without it turns it on, with a
    # RuntimeWarning that -W error makes an import failure.
    environment = {name: value for name, value in os.environ.items() if name != "PYTHON_GIL"}
    result = subprocess.run(
        [sys.executable, "-W", "error::RuntimeWarning", "-c", "import sys, velnor_lib; print(sys._is_gil_enabled())"],
        env=environment, capture_output=True, text=True, check=False,
    )
    assert (result.returncode, result.stdout, result.stderr) == (0, "False\n", "")


def test_star_import_binds_every_name():
    namespace = {}
    exec("from velnor_lib import *", namespace)
    assert set(ALL_NAMES) <= set(namespace)


@pytest.mark.parametrize("name, doc", CLASSES)
def test_class_traits(name, doc):
    cls = getattr(velnor_lib, name)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "velnor_lib"
    assert repr(cls) == f"<class 'velnor_lib.{name}'>"
    assert cls.__doc__ == doc
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("name", [name for name, _ in CLASSES])
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_classes_pickle_by_name_as_themselves(name, protocol):
    cls = getattr(velnor_lib, name)
    data = pickle.dumps(cls, protocol)
    assert b"velnor_lib" in data and name.encode() in data
    assert pickle.loads(data) is cls


def immutable_type_message(action, attribute, type_name):
    """The interpreter's own text for changing an attribute of an immutable type, read from `set` (it words
    setting and deleting differently between versions)."""
    try:
        action(set, attribute)
    except TypeError as error:
        return str(error).replace("'set'", f"'{type_name}'")
    raise AssertionError("set was changed")


CLASS_CHANGES = [
    ("set a new attribute", lambda cls, attribute: setattr(cls, attribute, 1), "x"),
    ("replace __hash__", lambda cls, attribute: setattr(cls, attribute, lambda self: 0), "__hash__"),
    ("replace a method", lambda cls, attribute: setattr(cls, attribute, None), "__reduce__"),
    ("delete a method", delattr, "__reduce__"),
    ("delete the docstring", delattr, "__doc__"),
]


@pytest.mark.parametrize("name", [name for name, _ in CLASSES])
@pytest.mark.parametrize(("what", "action", "attribute"), CLASS_CHANGES, ids=[row[0] for row in CLASS_CHANGES])
def test_classes_are_immutable_like_built_in_types(name, what, action, attribute):
    cls = getattr(velnor_lib, name)
    before = dict(vars(cls))
    with pytest.raises(TypeError) as raised:
        action(cls, attribute)
    assert str(raised.value) == immutable_type_message(action, attribute, f"velnor_lib.{name}")
    assert dict(vars(cls)) == before


@pytest.mark.parametrize("name", [name for name, _ in CLASSES])
def test_classes_cannot_be_subclassed(name):
    with pytest.raises(TypeError):
        type("Sub", (getattr(velnor_lib, name),), {})


def test_chunks_iter_has_no_constructor():
    with pytest.raises(TypeError) as error:
        velnor_lib.ChunksIter()
    assert str(error.value) == "No constructor defined"


@pytest.mark.parametrize("make", [velnor_lib.Span, velnor_lib.Interval, lambda: velnor_lib.iter_chunk([], 1)])
def test_instances_have_no_dict_and_no_weak_references(make):
    instance = make()
    with pytest.raises(AttributeError):
        instance.x = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)


@pytest.mark.parametrize("name", ["Span", "Interval"])
def test_set_classes_are_unhashable(name):
    cls = getattr(velnor_lib, name)
    assert cls.__hash__ is None
    with pytest.raises(TypeError):
        hash(cls())
    with pytest.raises(TypeError):
        {cls()}


# The C layout of one segment, from `struct` in native mode: a trailing zero-length item of the widest
# member pads the size to a multiple of its alignment, as a C struct is padded.
SEGMENT_BYTES = {"Span": struct.calcsize("qq0q"), "Interval": struct.calcsize("?dd?0d")}
SEGMENT_OF = {"Span": lambda k: (3 * k, 3 * k + 1), "Interval": lambda k: (True, 3.0 * k, 3.0 * k + 1, False)}


@pytest.mark.parametrize("name", ["Span", "Interval"])
@pytest.mark.parametrize("count", [0, 1, 2, 17, 1000, 100_000])
def test_sizeof_counts_the_segment_storage(name, count):
    cls = getattr(velnor_lib, name)
    # Disjoint segments: the constructor keeps every one, in storage sized from the list.
    value = cls([SEGMENT_OF[name](k) for k in range(count)])
    assert len(value.segments) == count
    header = object.__sizeof__(value)  # the instance itself, as the type declares it
    assert sys.getsizeof(value) == value.__sizeof__() == header + count * SEGMENT_BYTES[name]
    assert sys.getsizeof(value.copy()) == header + count * SEGMENT_BYTES[name]  # a copy holds no spare room


# A result may keep the room its operands could have needed, never more: at most both lists' segments.
@pytest.mark.parametrize("name", ["Span", "Interval"])
@pytest.mark.parametrize("op", [operator.or_, operator.and_, operator.sub], ids=["|", "&", "-"])
@pytest.mark.parametrize("count", [1, 1000, 150_000])
def test_sizeof_of_a_result_is_bounded_by_its_operands(name, op, count):
    cls = getattr(velnor_lib, name)
    a = cls([SEGMENT_OF[name](k) for k in range(count)])
    b = cls([SEGMENT_OF[name](k) for k in range(count // 2, count + count // 2)])  # half of them shared
    result = op(a, b)
    room = sys.getsizeof(result) - object.__sizeof__(result)
    assert len(result.segments) * SEGMENT_BYTES[name] <= room <= 2 * count * SEGMENT_BYTES[name]


def _kernel_counts():
    """Huge pages mapped to this process (kB), and the huge-page faults that fell back to small pages."""
    with open("/proc/self/smaps_rollup") as rollup:
        mapped = next(int(line.split()[1]) for line in rollup if line.startswith("AnonHugePages:"))
    with open("/proc/vmstat") as vmstat:
        fallbacks = sum(int(line.split()[1]) for line in vmstat if line.startswith("thp_fault_fallback "))
    return mapped, fallbacks


def _huge_pages_mode():
    try:
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as mode:
            return mode.read().split("[")[1].split("]")[0]
    except (OSError, IndexError):
        return "none"


# Lists of several megabytes ask for huge pages, which the kernel grants when its mode is "madvise" (the
# Debian and Ubuntu default) or "always"; a fault it could not serve with one is counted as a fallback.
@pytest.mark.skipif(_huge_pages_mode() not in ("madvise", "always"), reason="no transparent huge pages here")
@pytest.mark.parametrize("name", ["Span", "Interval"])
def test_long_lists_take_huge_pages(name):
    # 40 MiB of Span segments: above what the C allocator recycles, so the block is freshly mapped.
    count = 40 << 16
    bounds = array.array("q", range(0, 6 * count, 3))  # (0, 3), (6, 9), ...
    if sys.byteorder == "big":
        bounds.byteswap()
    state = b"\x01" + bounds.tobytes()
    span = velnor_lib._reconstruct("Span", state) if name == "Interval" else None
    mapped, fallbacks = _kernel_counts()
    value = velnor_lib._reconstruct("Span", state) if span is None else span.to_interval()
    grown, fell_back = _kernel_counts()
    assert len(value.segments) == count
    assert grown - mapped >= 2048 or fell_back > fallbacks


@pytest.mark.parametrize("name", ["Span", "Interval"])
def test_sizeof_follows_in_place_changes(name):
    cls = getattr(velnor_lib, name)
    value = cls()
    empty = sys.getsizeof(value)
    value |= cls([SEGMENT_OF[name](k) for k in range(5000)])
    assert sys.getsizeof(value) >= empty + 5000 * SEGMENT_BYTES[name]
    value -= value.copy()
    assert value.segments == [] and sys.getsizeof(value) >= empty


@pytest.mark.parametrize("name", FUNCTIONS)
def test_functions_are_bound_to_the_module(name):
    function = getattr(velnor_lib, name)
    assert function.__self__ is velnor_lib
    assert function.__module__ == "velnor_lib"
    assert function.__name__ == name


def test_iter_chunk_has_no_docstring():
    assert velnor_lib.iter_chunk.__doc__ is None


def test_a_second_module_object_shares_the_class_objects():
    spec = importlib.util.spec_from_file_location("velnor_lib", velnor_lib.__file__)
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not velnor_lib
    assert second.__all__ == ALL_NAMES
    assert second.__all__ is not velnor_lib.__all__
    for name, _ in CLASSES:
        assert getattr(second, name) is getattr(velnor_lib, name)
    assert second.utf16len is not velnor_lib.utf16len
