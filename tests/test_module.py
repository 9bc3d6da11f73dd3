"""The module object: registration order, version, and the traits every class shares."""
import importlib.util
import os
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
    assert cls.__module__ == "builtins"
    assert cls.__doc__ == doc
    assert cls.__bases__ == (object,)


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
