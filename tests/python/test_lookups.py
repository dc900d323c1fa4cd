"""Reading documents back: item access, the three lookups, keys, to_dict, lists and objects."""

import pytest

from vyr_rs import VYRL

PORT = VYRL.parse("port = 8080")


@pytest.mark.parametrize("query, expected", [
    (lambda doc: doc["port"], "8080"),
    (lambda doc: doc["8080"], "port"),  # reverse fallback
    (lambda doc: "port" in doc, True),
    (lambda doc: "8080" in doc, True),
    (lambda doc: "other" in doc, False),
    (lambda doc: doc.find_obj("port"), "8080"),
    (lambda doc: doc.find_obj("8080"), "port"),
    (lambda doc: doc.find_key("8080"), "port"),
    (lambda doc: doc.find_key("port"), None),
    (lambda doc: doc.find_key(" 8080"), None),  # exact comparison only
    (lambda doc: doc.find_deep("port"), "8080"),
    (lambda doc: doc.find_deep("8080"), None),  # no reverse step
    (lambda doc: doc.find_obj("other"), None),
    (lambda doc: doc.keys(), ["port"]),
    (lambda doc: doc.to_dict(), {"port": "8080"}),
])
def test_single_entry_queries(query, expected):
    assert query(PORT) == expected


@pytest.mark.parametrize("text, start, expected", [
    ("first = second\nsecond = third", "first", "third"),
    ("first = first", "first", "first"),
    ("first = second\nsecond = first", "first", "second"),
    ("first = second\nsecond = third\nthird = second", "first", "third"),
    ("second = third", "first", None),
])
def test_find_deep_follows_chains(text, start, expected):
    assert VYRL.parse(text).find_deep(start) == expected


@pytest.mark.parametrize("missing", ["other", "", "it's", "a\x00b", "\u00e9t\u00e9"])
def test_missing_item_is_runtime_error_quoting_the_argument(missing):
    with pytest.raises(RuntimeError) as info:
        PORT[missing]
    assert type(info.value) is RuntimeError
    assert info.value.args == (f"Key not found: '{missing}'",)


def test_text_round_trips_whole():
    doc = VYRL.parse("a\x00b = c\x00d\n\u043a\u043b\u044e\u0447 = \u2713 \U0001f600")
    assert doc["a\x00b"] == "c\x00d"
    assert "a" not in doc  # the NUL does not cut the key short
    assert doc["\u043a\u043b\u044e\u0447"] == "\u2713 \U0001f600"
    assert sorted(doc.keys()) == ["a\x00b", "\u043a\u043b\u044e\u0447"]
    assert doc.to_dict() == {"a\x00b": "c\x00d", "\u043a\u043b\u044e\u0447": "\u2713 \U0001f600"}


def test_keys_and_to_dict_hold_every_entry():
    doc = VYRL.parse("\n".join(f"k{i} = v{i}" for i in range(1000)))
    expected = {f"k{i}": f"v{i}" for i in range(1000)}
    assert len(doc) == 1000
    assert sorted(doc.keys()) == sorted(expected)
    assert doc.to_dict() == expected
    assert all(type(key) is str for key in doc.keys())


THIRD_LINE_FAILS = "a = 1\nb = 2\nkey"
THIRD_LINE_ERROR = "Parse Error at line 3: 'key'. Reason: Missing assignment operator '='"


def test_failed_parse_raises_and_failed_merge_keeps_earlier_lines():
    with pytest.raises(RuntimeError) as info:
        VYRL.parse(THIRD_LINE_FAILS)
    assert str(info.value) == THIRD_LINE_ERROR
    doc = VYRL.parse("z = 0")
    with pytest.raises(RuntimeError) as info:
        doc.merge_content(THIRD_LINE_FAILS)
    assert str(info.value) == THIRD_LINE_ERROR
    assert doc.to_dict() == {"z": "0", "a": "1", "b": "2"}


def test_merges_accumulate_and_later_values_win():
    doc = VYRL()
    assert doc.merge_content("a = 1\nb = 2") is None
    doc.merge_content("a = 3")
    assert doc.to_dict() == {"a": "3", "b": "2"}


def test_load_and_merge_file(tmp_path, monkeypatch):
    (tmp_path / "base.vyr").write_text("host = 'localhost'\nport = 8080\n", encoding="utf-8")
    (tmp_path / "extra.vyr").write_text("port = 9090\n", encoding="utf-8")
    doc = VYRL.load(str(tmp_path / "base.vyr"))
    assert doc.to_dict() == {"host": "localhost", "port": "8080"}
    monkeypatch.chdir(tmp_path)  # relative paths start at the working directory
    assert doc.merge_file("extra.vyr") is None
    assert doc["port"] == "9090"


@pytest.fixture
def bad_paths(tmp_path):
    (tmp_path / "latin1.vyr").write_bytes(b"name = caf\xe9\n")
    return {
        "missing": (str(tmp_path / "missing.vyr"), "IO Error: No such file or directory (os error 2)"),
        "directory": (str(tmp_path), "IO Error: Is a directory (os error 21)"),
        "not utf-8": (str(tmp_path / "latin1.vyr"), "IO Error: stream did not contain valid UTF-8"),
    }


@pytest.mark.parametrize("case", ["missing", "directory", "not utf-8"])
def test_unreadable_files(bad_paths, case):
    path, message = bad_paths[case]
    with pytest.raises(RuntimeError) as info:
        VYRL.load(path)
    assert str(info.value) == message
    doc = VYRL.parse("a = 1")
    with pytest.raises(RuntimeError) as info:
        doc.merge_file(path)
    assert str(info.value) == message
    assert doc.to_dict() == {"a": "1"}


LISTS_AND_OBJECTS = VYRL.parse(
    "ports = [80, 443]\n"
    "empty = []\n"
    "nested = [[1, 2], {x = 1, y = 2}, 'a,b']\n"
    "name = alpha\n"
    "db = { host = h, port = 5432 }\n"
    "twice = { a = 1, a = 2 }\n"
    "blank = {}\n"
    "open = { a = 1\n"
    "holder = [9]\n"
)


@pytest.mark.parametrize("key, as_list, as_object", [
    ("ports", ["80", "443"], None),
    ("empty", [], None),
    ("nested", ["[1, 2]", "{x = 1, y = 2}", "'a", "b'"], None),
    ("name", None, None),
    ("db", None, {"host": "h", "port": "5432"}),
    ("twice", None, {"a": "2"}),
    ("blank", None, {}),
    ("open", None, None),
    ("absent", None, None),
    ("[9]", None, None),  # reverse fallback finds the key "holder", which is no list
])
def test_find_list_and_find_object(key, as_list, as_object):
    assert LISTS_AND_OBJECTS.find_list(key) == as_list
    assert LISTS_AND_OBJECTS.find_object(key) == as_object


# Texts of every length around the 8-byte steps of the ASCII check, with one
# character outside ASCII at each place: each must come back as it was written.
def test_values_of_every_length_come_back_exactly():
    texts = ["x" * n for n in range(18)]
    texts += ["a" * i + "\u00e9" + "b" * (16 - i) for i in range(17)]
    texts += ["\u20ac" * 3, "\U0001F600", "\x7f" * 9]
    document = VYRL.parse("\n".join(f"k{i} = '{text}'" for i, text in enumerate(texts)))
    expected = {f"k{i}": text for i, text in enumerate(texts)}
    assert document.to_dict() == expected
    assert all(document[key] == text for key, text in expected.items())
    keyed = VYRL.parse("\n".join(f"{text}k = 1" for text in texts[1:]))
    assert sorted(keyed.keys()) == sorted(f"{text}k" for text in texts[1:])


class Key(str):
    """A str subclass that records any hashing or comparison Python code does."""

    calls: list[str] = []

    def __hash__(self):
        Key.calls.append("hash")
        return str.__hash__(self)

    def __eq__(self, other):
        Key.calls.append("eq")
        return str.__eq__(self, other)


KEY_FORMS = {
    "same": lambda key: key,
    "equal": lambda key: "".join(list(key)),  # another object with the same text
    "subclass": Key,
}
REREAD_DOC = "port = 8080\na\x00b = nul\n\u043a\u043b\u044e\u0447 = \u2713\n" + "x" * 40 + " = long\n"


@pytest.mark.parametrize("key, value", [("port", "8080"), ("a\x00b", "nul"), ("\u043a\u043b\u044e\u0447", "\u2713"),
                                        ("x" * 40, "long")], ids=["ascii", "nul", "non-ascii", "long"])
@pytest.mark.parametrize("first", KEY_FORMS.values(), ids=KEY_FORMS.keys())
@pytest.mark.parametrize("second", KEY_FORMS.values(), ids=KEY_FORMS.keys())
def test_a_key_read_again_gives_the_same_str(key, value, first, second):
    doc = VYRL.parse(REREAD_DOC)
    Key.calls.clear()
    one = doc[first(key)]
    # Read once, twice (when an exact str key is kept) and from then on.
    assert one == value and doc[second(key)] is one and doc[second(key)] is one and doc[first(key)] is one
    assert Key.calls == []  # a subclass's own hash and comparison are never run


@pytest.mark.parametrize("merge, key, expected", [
    ("port = 9090", "port", "9090"),  # the value read before changed
    ("other = 1", "port", "8080"),  # another key came
    ("8080 = x", "8080", "x"),  # a read through the reverse fallback became a direct one
    ("@type t = i32", "port", "8080"),  # no value changed at all
])
def test_reads_after_a_merge_see_it(merge, key, expected):
    doc = VYRL.parse("port = 8080")
    for form in [*KEY_FORMS.values(), *KEY_FORMS.values()]:  # every form kept
        doc[form(key)]
    doc.merge_content(merge)
    assert [doc[form(key)] for form in KEY_FORMS.values()] == [expected] * len(KEY_FORMS)


# Sizes on either side of those the interpreter sizes a new dict for in
# different ways: too small to bother, exact, and larger than it will size at once.
@pytest.mark.parametrize("size", [0, 1, 5, 6, 1000, 90_000])
def test_to_dict_holds_every_entry_in_the_order_of_keys(size):
    doc = VYRL.parse("".join(f"k{i} = v{i}\n" for i in range(size)))
    if size:
        doc.merge_content("k0 = again")  # a replaced value keeps its place
    as_dict = doc.to_dict()
    assert list(as_dict) == doc.keys()
    assert as_dict == {f"k{i}": "again" if i == 0 else f"v{i}" for i in range(size)}


# Characters on each side of every width a str can have (one, two or four
# bytes a character), alone, in pairs and among ASCII: each must come back as
# the very text written, which for a str also means in its narrowest width.
WIDTH_EDGES = ["\u0080", "\u00ff", "\u0100", "\u07ff", "\u0800", "\ud7ff", "\ue000", "\uffff", "\U00010000",
               "\U0010ffff"]


@pytest.mark.parametrize("text", [
    *WIDTH_EDGES,
    *(a + b for a, b in zip(WIDTH_EDGES, WIDTH_EDGES[1:])),
    *(f"ab{c}cd{c}" for c in WIDTH_EDGES),
    "\u00e9" * 40 + "\u0100",
    "x" * 30 + "\U0001F600",
], ids=lambda text: "-".join(f"{ord(c):x}" for c in dict.fromkeys(text) if ord(c) > 0x7f))
def test_text_of_every_width_comes_back_exactly(text):
    doc = VYRL.parse(f"k{text}k = v{text}v\nlist = [{text}, v{text}]")
    assert doc.to_dict() == {f"k{text}k": f"v{text}v", "list": f"[{text}, v{text}]"}
    assert doc[f"k{text}k"] == f"v{text}v"
    assert sorted(doc.keys()) == sorted([f"k{text}k", "list"])
    assert doc.find_list("list") == [text, f"v{text}"]
