"""The module and its class as Python code sees them."""

import importlib
import importlib.util
import os
import subprocess
import sys
import weakref

import pytest

import vyr_rs
from vyr_rs import VYRL


def test_module_attributes():
    assert vyr_rs.__all__ == ["VYRL", "__version__"]
    assert vyr_rs.__version__ == "1.4.0"
    assert vyr_rs.VYRL is VYRL
    # The thread-binding exception is reachable only by catching it.
    assert not hasattr(vyr_rs, "PanicException")
    first, second = vyr_rs.__doc__.split("\n\n")
    assert "Python option" in first
    assert second == "In Python: `from vyr_rs import VYRL`"


def test_reimport_runs_again_with_a_class_of_its_own(monkeypatch):
    monkeypatch.delitem(sys.modules, "vyr_rs")
    fresh = importlib.import_module("vyr_rs")
    assert fresh is not vyr_rs
    # Each module object owns its class, so no interpreter shares one.
    assert fresh.VYRL is not VYRL and fresh.VYRL.__name__ == "VYRL"
    assert fresh.__all__ == ["VYRL", "__version__"]
    assert fresh.VYRL.parse("a = 1")["a"] == VYRL.parse("a = 1")["a"] == "1"


def test_class_identity():
    assert VYRL.__name__ == VYRL.__qualname__ == "VYRL"
    assert VYRL.__bases__ == (object,)
    assert VYRL.__text_signature__ == "()"
    assert VYRL.__doc__.endswith("\n\nAll methods that can fail raise `RuntimeError` with a descriptive message.")


def test_method_table_order():
    public = [name for name in VYRL.__dict__ if not name.startswith("_")]
    assert public == [
        "parse", "load", "merge_content", "merge_file", "find_obj", "find_key", "find_deep",
        "find_list", "find_object", "keys", "to_dict", "validate_value",
    ]


DOCSTRINGS = [
    ("load", "(path)",
     'Load an VYRL file from disk and return a new instance.\n\n```python\ncfg = VYRL.load("config.vyr")\n```'),
    ("merge_content", "($self, content)", "Merge VYRL text into this instance (modifies in-place)."),
    ("merge_file", "($self, path)", "Merge an VYRL file into this instance (modifies in-place)."),
    ("find_obj", "($self, key)",
     "Forward lookup: returns the value for `key`, or `None`.\n\n"
     "Also performs a reverse lookup (find key whose value equals `key`)\nwhen no direct key is found."),
    ("find_key", "($self, value)", "Reverse lookup: find the key whose value equals `value`, or `None`."),
    ("find_deep", "($self, key)", "Deep lookup: follow key\u2192value\u2192key chains until a terminal or cycle."),
    ("find_list", "($self, key)",
     "Look up `key` and parse its value as a list `[a, b, c]`.\n\n"
     "Returns `None` if the key is absent or the value is not a list literal."),
    ("find_object", "($self, key)",
     "Look up `key` and parse its value as an inline object `{ k = v, ... }`.\n\n"
     "Returns `None` if the key is absent or the value is not an object literal."),
    ("keys", "($self)", "Returns all keys stored in this instance."),
    ("to_dict", "($self)", "Returns a Python `dict` of all key-value pairs."),
    ("validate_value", "($self, type_name, value)",
     "Validate `value` against a built-in or registered type name.\n\nRaises `RuntimeError` on validation failure."),
]


@pytest.mark.parametrize("name, signature, doc", DOCSTRINGS, ids=[row[0] for row in DOCSTRINGS])
def test_docstrings(name, signature, doc):
    method = getattr(VYRL, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_parse_docstring_shows_an_example():
    assert VYRL.parse.__text_signature__ == "(content)"
    summary, example = VYRL.parse.__doc__.split("\n\n")
    assert summary == "Parse an VYRL string and return a new instance."
    assert example.startswith("```python\ncfg = VYRL.parse(") and example.endswith(")\n```")
    assert "8080" in example


def test_empty_document():
    doc = VYRL()
    assert len(doc) == 0
    assert repr(doc) == "VYRL(0 keys)"
    assert doc.keys() == []
    assert doc.to_dict() == {}
    assert doc.find_obj("") is None


def test_repr_counts_entries_without_singular():
    assert repr(VYRL.parse("a = 1")) == "VYRL(1 keys)"
    assert repr(VYRL.parse("a = 1\nb = 2\na = 3")) == "VYRL(2 keys)"


def _subclass():
    class Sub(VYRL):
        pass


def _set_item():
    doc = VYRL.parse("a = 1")
    doc["a"] = "2"


def _del_item():
    doc = VYRL.parse("a = 1")
    del doc["a"]


@pytest.mark.parametrize("action, error", [
    (_subclass, TypeError),
    (lambda: setattr(VYRL(), "extra", 1), AttributeError),
    (lambda: VYRL().__dict__, AttributeError),
    (lambda: iter(VYRL.parse("a = 1")), TypeError),
    (lambda: weakref.ref(VYRL()), TypeError),
    (_set_item, TypeError),
    (_del_item, TypeError),
], ids=["subclass", "setattr", "dict", "iter", "weakref", "setitem", "delitem"])
def test_read_only_mapping_surface(action, error):
    with pytest.raises(error):
        action()


def test_type_is_not_immutable():
    VYRL.scratch_attribute = 1
    try:
        assert VYRL().scratch_attribute == 1
    finally:
        del VYRL.scratch_attribute


def test_equality_and_hash_are_by_identity():
    first, second = VYRL.parse("a = 1"), VYRL.parse("a = 1")
    assert first == first and first != second
    assert hash(first) == object.__hash__(first)


@pytest.mark.parametrize("preset, expected", [
    (["first"], ["first", "VYRL", "__version__"]),
    ((), TypeError),
    ("VYRL", TypeError),
], ids=["list", "tuple", "str"])
def test_execution_extends_a_preset_all_or_fails(preset, expected):
    located = importlib.util.find_spec("vyr_rs")
    module = importlib.util.module_from_spec(located)
    module.__all__ = preset
    if isinstance(expected, list):
        located.loader.exec_module(module)
        assert module.__all__ == expected and module.VYRL.__name__ == "VYRL"
    else:
        with pytest.raises(expected):
            located.loader.exec_module(module)


# Each interpreter must own its class: sharing one let a destroyed
# sub-interpreter free the class that the main interpreter still used.
SUBINTERPRETERS = """
import _interpreters
from vyr_rs import VYRL

def run(interpreter, code):
    failure = _interpreters.exec(interpreter, code)
    assert failure is None, failure

config = _interpreters.new_config("legacy")
first, second = _interpreters.create(config), _interpreters.create(config)
for interpreter in (first, second):
    run(interpreter, "import vyr_rs; assert vyr_rs.VYRL.parse('a = 1')['a'] == '1'")
run(first, "import vyr_rs; assert vyr_rs.VYRL.parse('b = 2').find_key('2') == 'b'")
_interpreters.destroy(first)
run(second, "import vyr_rs; d = vyr_rs.VYRL(); d.merge_content('c = 3'); assert d['c'] == '3'")
_interpreters.destroy(second)
assert VYRL.parse("d = 4")["d"] == "4"
print("ok")
"""


@pytest.mark.skipif(importlib.util.find_spec("_interpreters") is None, reason="no sub-interpreter API")
def test_sub_interpreters_use_the_module_side_by_side_and_go_away():
    result = subprocess.run([sys.executable, "-c", SUBINTERPRETERS], capture_output=True, text=True, timeout=120,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert (result.returncode, result.stdout.strip()) == (0, "ok"), result.stderr
