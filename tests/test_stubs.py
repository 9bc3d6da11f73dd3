"""The type stubs ship with the module and declare what it has: the quick part of scripts/check_types.sh."""

import ast
import pathlib

import pytest

import velnor_lib

# What the stubs leave to `object`, whose types are the same: text forms, docstring, module name; and the
# constructor of ChunksIter, which only refuses.
LEFT_TO_OBJECT = {"__doc__", "__module__", "__repr__", "__str__"}


def installed_stub():
    return pathlib.Path(velnor_lib.__file__).parent / "velnor_lib-stubs" / "__init__.pyi"


@pytest.fixture(scope="module")
def stub():
    return ast.parse(installed_stub().read_text(encoding="utf-8"))


def stub_class(stub, name):
    return next(node for node in stub.body if isinstance(node, ast.ClassDef) and node.name == name)


def test_the_stub_package_is_installed_beside_the_module():
    assert installed_stub().is_file()


def test_stub_all_lists_the_runtime_names_in_order(stub):
    (declared,) = [node.value for node in stub.body if isinstance(node, ast.Assign)
                   and [target.id for target in node.targets] == ["__all__"]]
    assert ast.literal_eval(declared) == velnor_lib.__all__


def test_stub_declares_every_runtime_name(stub):
    declared = {node.name for node in stub.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    declared |= {node.target.id for node in stub.body if isinstance(node, ast.AnnAssign)}
    assert set(velnor_lib.__all__) <= declared


@pytest.mark.parametrize(("name", "also_left"), [("Span", set()), ("Interval", set()), ("ChunksIter", {"__new__"})])
def test_stub_class_has_exactly_the_runtime_members(stub, name, also_left):
    node = stub_class(stub, name)
    declared = {item.name for item in node.body if isinstance(item, ast.FunctionDef)}
    declared |= {item.target.id for item in node.body if isinstance(item, ast.AnnAssign)}
    runtime = set(vars(getattr(velnor_lib, name))) - LEFT_TO_OBJECT - also_left
    assert declared == runtime
