"""vyrl.VyrlError: the kind, the message vyr_rs gives, and where, through imports."""

import errno
import os

import pytest

import vyrl
from vyr_rs import VYRL

# (text, kind, key): one failure of each kind a load can give.
KINDS = [
    ("a = 1\nb\n", "ParseError", None),
    ("@schema S { p: i32 }\np = fast\n", "SchemaValidationError", "p"),
    ("@schema {\n", "DirectiveError", None),
    ("@bogus\n", "ParseError", None),
    ("@derive missing.vyr::S\n", "IoError", None),
]


@pytest.mark.parametrize("text, kind, key", KINDS, ids=[kind for _, kind, _ in KINDS])
def test_kind_and_message_are_those_of_the_core(text, kind, key):
    with pytest.raises(RuntimeError) as plain:
        VYRL.parse(text)
    with pytest.raises(vyrl.VyrlError) as info:
        vyrl.loads(text, source="t.vyr")
    error = info.value
    assert isinstance(error, RuntimeError)
    assert error.message == str(plain.value)
    assert (error.kind, error.key) == (kind, key)
    assert error.kind in vyrl.Kind.__args__  # type: ignore[attr-defined]


def test_an_error_in_an_imported_file_carries_the_route(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "inner.vyr").write_text("@schema S { n: i32 }\nok = 1\nn = many\n")
    (tmp_path / "middle.vyr").write_text("x = 1\n\n@import inner.vyr\n")
    (tmp_path / "outer.vyr").write_text("@derive middle.vyr\n")
    with pytest.raises(vyrl.VyrlError) as info:
        vyrl.load("outer.vyr")
    error = info.value
    assert (error.file, error.line, error.key) == ("inner.vyr", 3, "n")
    assert error.chain == (("outer.vyr", 1), ("middle.vyr", 3), ("inner.vyr", 3))
    assert str(error) == "inner.vyr:3: " + error.message


@pytest.mark.parametrize(
    "make, cls, number",
    [
        (lambda path: None, vyrl.VyrlFileNotFoundError, errno.ENOENT),
        (lambda path: path.mkdir(), vyrl.VyrlIsADirectoryError, errno.EISDIR),
        (lambda path: (path.write_text("a = 1"), path.chmod(0)), vyrl.VyrlPermissionError, errno.EACCES),
    ],
    ids=["missing", "directory", "unreadable"],
)
def test_an_unreadable_file_is_also_the_matching_os_error(tmp_path, make, cls, number):
    path = tmp_path / "c.vyr"
    make(path)
    if number == errno.EACCES and os.access(path, os.R_OK):
        pytest.skip("running as a user that reads any file")
    with pytest.raises(OSError) as info:
        vyrl.load(path)
    error = info.value
    assert type(error) is cls and isinstance(error, vyrl.VyrlError)
    assert (error.errno, error.filename, error.kind, error.line) == (number, str(path), "IoError", None)
    assert isinstance(error, {errno.ENOENT: FileNotFoundError, errno.EISDIR: IsADirectoryError}.get(number, OSError))


def test_a_missing_import_is_a_file_not_found_naming_the_importing_line(tmp_path):
    (tmp_path / "a.vyr").write_text("x = 1\n@import nowhere.vyr\n")
    with pytest.raises(FileNotFoundError) as info:
        vyrl.load(tmp_path / "a.vyr")
    assert info.value.chain == ((str(tmp_path / "a.vyr"), 2), ("nowhere.vyr", None))


def test_arguments_of_the_wrong_type_are_type_errors():
    with pytest.raises(TypeError):
        vyrl.load(5)  # type: ignore[arg-type]
    with pytest.raises(TypeError):
        vyrl.loads(b"a = 1")  # type: ignore[arg-type]
