"""validate_value from Python, and core failures surfacing as RuntimeError."""

import pytest

from vyr_rs import VYRL

DOC = VYRL.parse(
    "@type port = i32\n"
    "@schema Server { port: i32 }\n"
    "port = 8080\n"
)


@pytest.mark.parametrize("type_name, value", [
    ("i32", "42"),
    ("port", "1"),  # an alias
    ("list<i32>", "[1, 2]"),
    ("bool", "true"),
])
def test_accepted_values_return_none(type_name, value):
    assert DOC.validate_value(type_name, value) is None


@pytest.mark.parametrize("type_name, value, message", [
    ("i32", "x", "Invalid type 'i32': Invalid value: Expected i32, got 'x'"),
    ("intt", "1", "Key not found: 'intt'"),
    ("Server", "{ port = 1 }", "Key not found: 'Server'"),  # schemas are no types here
    ("i32", "1\x002", "Invalid type 'i32': Invalid value: Expected i32, got '1\x002'"),
])
def test_rejections_raise_runtime_error(type_name, value, message):
    with pytest.raises(RuntimeError) as info:
        DOC.validate_value(type_name, value)
    assert type(info.value) is RuntimeError
    assert info.value.args == (message,)
    assert info.value.__cause__ is None


def test_keywords_in_any_order_and_document_unchanged():
    before = DOC.to_dict()
    assert DOC.validate_value(value="1", type_name="i32") is None
    assert DOC.validate_value("i32", value="1") is None
    assert DOC.to_dict() == before


def test_typed_assignment_failure_reaches_python_verbatim():
    with pytest.raises(RuntimeError) as info:
        VYRL.parse("@schema Server { port: i32 }\nport = fast")
    assert str(info.value) == (
        "Schema 'Server' validation error: field 'port' (type 'i32') \u2014 Invalid value: Expected i32, got 'fast'"
    )
