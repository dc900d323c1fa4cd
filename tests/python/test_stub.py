"""The shipped stub describes the module that was built.

mypy's stubtest (scripts/test-python.sh --stubtest) is the full check; this one
needs only the standard library and catches the usual drift: a method added,
renamed or given another parameter on one side only.
"""

import ast
import inspect
from pathlib import Path

import vyr_rs
from vyr_rs import VYRL

STUB = ast.parse((Path(__file__).resolve().parents[2] / "src" / "python" / "vyr_rs.pyi").read_text(encoding="utf-8"))


def test_stub_module_level_matches():
    assigned = {node.targets[0].id: ast.literal_eval(node.value) for node in STUB.body if isinstance(node, ast.Assign)}
    annotated = [node.target.id for node in STUB.body if isinstance(node, ast.AnnAssign)]
    assert assigned == {"__all__": vyr_rs.__all__} and annotated == ["__version__"]


def test_stub_methods_match_runtime_in_table_order():
    stub_class = next(node for node in STUB.body if isinstance(node, ast.ClassDef) and node.name == "VYRL")
    assert [ast.unparse(decorator) for decorator in stub_class.decorator_list] == ["final"]
    stubbed = {}
    for node in stub_class.body:
        if isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            decorators = [ast.unparse(decorator) for decorator in node.decorator_list]
            parameters = [argument.arg for argument in node.args.args]
            # A static method that knows its class is written as a classmethod,
            # as type checkers see it; called on the class, both take the same arguments.
            if decorators == ["classmethod"]:
                parameters = parameters[1:]
            stubbed[node.name] = (decorators in (["staticmethod"], ["classmethod"]), parameters)
    runtime = {
        name: (isinstance(member, staticmethod), list(inspect.signature(getattr(VYRL, name)).parameters))
        for name, member in VYRL.__dict__.items()
        if not name.startswith("_")
    }
    assert list(stubbed.items()) == list(runtime.items())
