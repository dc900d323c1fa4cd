"""The call protocol: argument rules, their exact errors, check order and borrow release."""

import gc
import pathlib
import sys

import pytest

from vyr_rs import VYRL

DOC = VYRL.parse("port = 8080")


class Outer:
    class Inner:
        pass


class Name(str):
    pass


def _missing(function, names):
    noun = "argument" if len(names) == 1 else "arguments"
    return f"{function} missing {len(names)} required positional {noun}: " + " and ".join(f"'{n}'" for n in names)


ARGUMENT_ERRORS = [
    # Missing arguments, for every parameter list.
    (lambda: VYRL.parse(), _missing("VYRL.parse()", ["content"])),
    (lambda: VYRL.load(), _missing("VYRL.load()", ["path"])),
    (lambda: DOC.merge_content(), _missing("VYRL.merge_content()", ["content"])),
    (lambda: DOC.merge_file(), _missing("VYRL.merge_file()", ["path"])),
    (lambda: DOC.find_obj(), _missing("VYRL.find_obj()", ["key"])),
    (lambda: DOC.find_key(), _missing("VYRL.find_key()", ["value"])),
    (lambda: DOC.find_deep(), _missing("VYRL.find_deep()", ["key"])),
    (lambda: DOC.find_list(), _missing("VYRL.find_list()", ["key"])),
    (lambda: DOC.find_object(), _missing("VYRL.find_object()", ["key"])),
    (lambda: DOC.validate_value(), _missing("VYRL.validate_value()", ["type_name", "value"])),
    (lambda: DOC.validate_value("i32"), "VYRL.validate_value() missing 1 required positional argument: 'value'"),
    (lambda: DOC.validate_value(value="1"), _missing("VYRL.validate_value()", ["type_name"])),
    # Too many positional arguments.
    (lambda: VYRL(1), "VYRL.__new__() takes 0 positional arguments but 1 was given"),
    (lambda: DOC.find_key("8080", "x"), "VYRL.find_key() takes 1 positional arguments but 2 were given"),
    (lambda: VYRL.parse("a", "b", "c"), "VYRL.parse() takes 1 positional arguments but 3 were given"),
    (lambda: DOC.validate_value("i32", "1", "x"), "VYRL.validate_value() takes 2 positional arguments but 3 were given"),
    # Unknown and repeated keywords.
    (lambda: VYRL(x=1), "VYRL.__new__() got an unexpected keyword argument 'x'"),
    (lambda: DOC.find_obj(name="x"), "VYRL.find_obj() got an unexpected keyword argument 'name'"),
    (lambda: VYRL.load(path="a", mode="r"), "VYRL.load() got an unexpected keyword argument 'mode'"),
    (lambda: DOC.find_obj("a", key="b"), "VYRL.find_obj() got multiple values for argument 'key'"),
    (lambda: DOC.validate_value("i32", "1", type_name="i32"),
     "VYRL.validate_value() got multiple values for argument 'type_name'"),
    # Arguments that are not str, by every route.
    (lambda: 5 in DOC, "argument 'key': 'int' object is not an instance of 'str'"),
    (lambda: DOC[5], "argument 'key': 'int' object is not an instance of 'str'"),
    (lambda: DOC[None], "argument 'key': 'None' is not an instance of 'str'"),
    (lambda: DOC.find_key(b"8080"), "argument 'value': 'bytes' object is not an instance of 'str'"),
    (lambda: DOC.find_obj(Outer.Inner()), "argument 'key': 'Outer.Inner' object is not an instance of 'str'"),
    (lambda: VYRL.load(pathlib.PurePosixPath("a.vyr")),
     "argument 'path': 'PurePosixPath' object is not an instance of 'str'"),
    (lambda: VYRL.parse(content=None), "argument 'content': 'None' is not an instance of 'str'"),
    (lambda: DOC.merge_file(3.5), "argument 'path': 'float' object is not an instance of 'str'"),
    # Order: the parameter list is checked before any conversion, type_name before value.
    (lambda: DOC.find_obj(1, 2), "VYRL.find_obj() takes 1 positional arguments but 2 were given"),
    (lambda: DOC.validate_value(1, None), "argument 'type_name': 'int' object is not an instance of 'str'"),
    (lambda: DOC.validate_value("i32", None), "argument 'value': 'None' is not an instance of 'str'"),
    (lambda: DOC.validate_value(value=None, type_name=1),
     "argument 'type_name': 'int' object is not an instance of 'str'"),
]


@pytest.mark.parametrize("call, message", ARGUMENT_ERRORS)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message


@pytest.mark.parametrize("call", [lambda: DOC.keys(1), lambda: DOC.to_dict(x=1), lambda: DOC.keys(None)])
def test_no_argument_methods_reject_arguments(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("call, expected", [
    (lambda: VYRL.parse(content="a = 1").to_dict(), {"a": "1"}),
    (lambda: DOC.find_obj(key="port"), "8080"),
    (lambda: DOC.find_key(value="8080"), "port"),
    (lambda: DOC.find_deep(key="port"), "8080"),
    (lambda: DOC.find_list(key="port"), None),
    (lambda: DOC.find_object(key="port"), None),
    (lambda: DOC[Name("port")], "8080"),  # str subclasses are str
    (lambda: DOC.find_key(Name("8080")), "port"),
    (lambda: DOC.parse("b = 2").to_dict(), {"b": "2"}),  # static methods through an instance
])
def test_accepted_calls(call, expected):
    assert call() == expected


@pytest.mark.parametrize("call", [
    lambda doc: VYRL.parse("a = \udc80"),
    lambda doc: doc["\ud800"],
    lambda doc: "\udfff" in doc,
    lambda doc: doc.find_key("\udc80"),
    lambda doc: doc.validate_value("i32", "\udc80"),
    lambda doc: doc.merge_content("\udc80 = 1"),
])
def test_lone_surrogates_keep_the_codec_error(call):
    doc = VYRL.parse("a = 1")
    with pytest.raises(UnicodeEncodeError):
        call(doc)
    assert doc.to_dict() == {"a": "1"}


# Each action fails after the borrow is taken; afterwards both kinds of borrow
# must be available again.
FAILING_AFTER_BORROW = [
    (lambda doc: doc["absent"], RuntimeError),
    (lambda doc: doc.find_obj(5), TypeError),
    (lambda doc: 5 in doc, TypeError),
    (lambda doc: doc.find_list("\udc80"), UnicodeEncodeError),
    (lambda doc: doc.validate_value("i32", "x"), RuntimeError),
    (lambda doc: doc.validate_value("i32", 5), TypeError),
    (lambda doc: doc.merge_content("broken"), RuntimeError),
    (lambda doc: doc.merge_content(5), TypeError),
    (lambda doc: doc.merge_file("/nonexistent/file.vyr"), RuntimeError),
    (lambda doc: doc.merge_file("\udc80"), UnicodeEncodeError),
]


@pytest.mark.parametrize("action, error", FAILING_AFTER_BORROW)
def test_every_failure_releases_the_borrow(action, error):
    doc = VYRL.parse("a = 1")
    with pytest.raises(error):
        action(doc)
    doc.merge_content("b = 2")  # exclusive
    assert doc.keys() and len(doc) == 2  # shared


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="the collector runs inside allocations only before 3.12")
@pytest.mark.parametrize("read", [VYRL.keys, VYRL.to_dict], ids=["keys", "to_dict"])
def test_finalizer_may_modify_a_document_while_its_result_is_built(read):
    """Building a result allocates a container, and before 3.12 that may run
    the collector and so arbitrary finalizers. The borrow is given back by
    then, so a finalizer that writes to the document is not refused, and the
    result is the state the read saw."""
    doc = VYRL.parse("a = 1")
    reading = [False]
    writes = []  # (inside a read, refusal or None)

    class Canary:
        """Garbage that, once collected, writes a fresh key and plants itself again."""

        armed = True

        def __del__(self):
            try:
                doc.merge_content(f"w{len(writes)} = 1")
                writes.append((reading[0], None))
            except RuntimeError as error:
                writes.append((reading[0], str(error)))
            if Canary.armed:
                plant()

    def plant():
        canary = Canary()
        canary.self = canary

    threshold = gc.get_threshold()
    gc.set_threshold(1)  # a collection every other container allocation
    seen = []
    try:
        plant()
        # Each read allocates one container and keeps it; once the interpreter's
        # spare ones run out, collections (and so the finalizer) land inside it.
        for _ in range(200):
            reading[0] = True
            seen.append(read(doc))
            reading[0] = False
    finally:
        Canary.armed = False
        gc.set_threshold(*threshold)
        gc.collect()
    assert any(inside for inside, _ in writes)
    assert [refusal for _, refusal in writes if refusal] == []
    # Every result is a whole state of the document: "a" plus the first n writes.
    for keys in map(list, seen):
        assert sorted(keys, key=lambda k: (k != "a", len(k), k)) == ["a"] + [f"w{i}" for i in range(len(keys) - 1)]
