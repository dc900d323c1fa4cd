"""vyrl.Config: what each type's values become, and the mapping around them."""

import math

import pytest

import vyrl

# (type as a schema field declares it, value text, Python value): one row per
# kind of conversion, every family and the edges of its number syntax.
CONVERSIONS = [
    ("i32", "8080", 8080),
    ("i32", "-0002147483648", -2147483648),
    ("i32", "+7", 7),
    ("f64", "2.5", 2.5),
    ("f64", "-1e3", -1000.0),
    ("f64", "INF", math.inf),
    ("f64", "1e400", math.inf),
    ("f64", "7", 7.0),
    ("bool", "true", True),
    ("bool", "FALSE", False),
    ("bool", "1", True),
    ("bool", "0", False),
    ("string", "alpha beta", "alpha beta"),
    ("color", "#FF8800", "#FF8800"),
    ("physics::meter_per_second", "12.5", 12.5),
    ("physics::Knots", "35", 35.0),
    ("physics::byte", "65536", 65536),
    ("physics::bit", "-3", -3),
    ("physics::baud", "9600", 9600),
    ("math::vector2", "1, -2.5", (1.0, -2.5)),
    ("math::vector3", "52.5163, 13.3777, 34", (52.5163, 13.3777, 34.0)),
    ("math::quaternion", "0,0,0,1", (0.0, 0.0, 0.0, 1.0)),
    ("math::matrix3x3", "1,0,0, 0,1,0, 0,0,1", (1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0)),
    ("time::datetime", "2025-02-11T09:15:00Z", "2025-02-11T09:15:00Z"),
    ("time::duration", "P90D", "P90D"),
    ("time::duration", "90", "90"),
    ("time::hour", "1.5", 1.5),
    ("time::year", "2024", 2024.0),
    ("list<i32>", "[80, 443]", [80, 443]),
    ("list<i32>", "[]", []),
    ("list<f64>", "[1, , 2.5]", [1.0, 2.5]),
    ("list<list<bool>>", "[[true, 0], [], [1]]", [[True, False], [], [True]]),
    ("list<math::vector2>", "[1, 2]", None),  # commas split items first: not a list of vectors
    ("list<string>", "[a, b c]", ["a", "b c"]),
]


@pytest.mark.parametrize("type_name, text, expected", CONVERSIONS, ids=[f"{t} {v}" for t, v, _ in CONVERSIONS])
def test_a_typed_value_becomes_its_python_value(type_name, text, expected):
    if expected is None:
        with pytest.raises(vyrl.VyrlError):
            vyrl.loads(f"@schema S {{ v: {type_name} }}\nv = {text}\n")
        return
    cfg = vyrl.loads(f"@schema S {{ v: {type_name} }}\nv = {text}\n")
    value = cfg["v"]
    assert value == expected
    assert type(value) is type(expected)
    if isinstance(expected, (list, tuple)):
        assert [type(item) for item in value] == [type(item) for item in expected]
    assert cfg.raw("v") == text


def test_aliases_and_objects_convert_as_what_they_resolve_to():
    cfg = vyrl.loads(
        """
@type port = i32
@type speed = physics::meter_per_second
@schema Endpoint { host: string, port: port, tls*: bool }
@schema App { main: Endpoint, spares: list<Endpoint>, limit: speed, ports: list<port> }
main = { host = a.example, port = 443, tls = true, note = kept as raw only }
spares = [{ host = b, port = 1 }, { port = 2, host = 'c', port = 3 }]
limit = 30
ports = [1, 2]
plain = 8080
"""
    )
    assert cfg["main"] == {"host": "a.example", "port": 443, "tls": True}
    assert cfg["spares"] == [{"host": "b", "port": 1}, {"host": "c", "port": 3}]
    assert cfg["limit"] == 30.0 and type(cfg["limit"]) is float
    assert cfg["ports"] == [1, 2]
    assert cfg["plain"] == "8080"
    assert cfg.raw("main") == "{ host = a.example, port = 443, tls = true, note = kept as raw only }"
    assert list(cfg["main"]) == ["host", "port", "tls"]  # the schema's order, not the text's


TYPE_OF = [
    ("port", vyrl.TypeInfo("port", "App", "i32", "primitive", ("port",))),
    ("main", vyrl.TypeInfo("Endpoint", "App", "Endpoint", "schema", ())),
    ("ports", vyrl.TypeInfo("list<port>", "App", "list<port>", "list", ())),
    ("home", vyrl.TypeInfo("math::vector3", "App", "math::vector3", "math", ())),
    ("free", vyrl.TypeInfo(None)),
]


@pytest.mark.parametrize("key, expected", TYPE_OF, ids=[key for key, _ in TYPE_OF])
def test_type_of_names_the_declared_type_and_where_it_ends(key, expected):
    cfg = vyrl.loads(
        "@type port = i32\n@schema Endpoint { host: string }\n"
        "@schema App { port: port, main: Endpoint, ports: list<port>, home: math::vector3 }\n"
        "port = 1\nmain = { host = h }\nports = [1]\nhome = 1,2,3\nfree = x\n"
    )
    assert cfg.type_of(key) == expected


def test_config_is_a_read_only_mapping_in_reading_order(tmp_path):
    (tmp_path / "base.vyr").write_text("@schema S { port: i32 }\nport = 1\nname = base\n")
    (tmp_path / "app.vyr").write_text(f"zone = b\n@import {tmp_path}/base.vyr\nport = 2\nports = [1]\n")
    cfg = vyrl.load(tmp_path / "app.vyr")
    assert list(cfg) == ["zone", "name", "port", "ports"]
    assert len(cfg) == 4 and "port" in cfg and "2" not in cfg and 2 not in cfg
    assert cfg.get("port") == 2 and cfg.get("nope") is None and cfg.get("nope", 5) == 5
    assert dict(cfg.items()) == cfg.to_dict() == {"zone": "b", "name": "base", "port": 2, "ports": "[1]"}
    with pytest.raises(KeyError):
        cfg["nope"]
    for forbidden in (lambda: cfg.__setitem__("port", 3), lambda: setattr(cfg, "_values", {})):
        with pytest.raises((TypeError, AttributeError)):
            forbidden()
    assert cfg.where("port") == vyrl.Location(str(tmp_path / "app.vyr"), 3)
    assert cfg.where("name") == vyrl.Location(f"{tmp_path}/base.vyr", 3)
    assert str(cfg.where("zone")) == f"{tmp_path / 'app.vyr'}:1"
    assert vyrl.Config(cfg) == cfg


def test_handed_out_lists_and_objects_are_copies():
    cfg = vyrl.loads("@schema E { a: i32 }\n@schema S { e: E, l: list<E> }\ne = { a = 1 }\nl = [{ a = 2 }]\n")
    cfg["e"]["a"] = 9
    cfg["l"][0]["a"] = 9
    cfg.to_dict()["l"].append(None)
    assert cfg["e"] == {"a": 1} and cfg["l"] == [{"a": 2}]


def test_loads_names_its_source_and_load_takes_a_root(tmp_path):
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "types.vyr").write_text("@schema S { n: i32 }\n")
    (tmp_path / "app.vyr").write_text("@import lib/types.vyr\nn = 5\n")
    cfg = vyrl.load(str(tmp_path / "app.vyr"), root=tmp_path)
    assert cfg["n"] == 5
    assert vyrl.loads("a = 1", source="settings").where("a") == vyrl.Location("settings", 1)
    with pytest.raises(vyrl.VyrlFileNotFoundError):
        vyrl.load(tmp_path / "app.vyr")  # lib/ is not under the working directory


def test_schemas_in_effect_are_listed_with_their_fields():
    cfg = vyrl.loads("@schema A { x: i32 }\n@schema B { y*: list<A> }\n@schema A { z: f64 }\n", source="s.vyr")
    schemas = cfg.schemas()
    assert list(schemas) == ["B", "A"]
    assert schemas["A"] == vyrl.Schema("A", (vyrl.Field("z", "f64", False),), vyrl.Location("s.vyr", 3))
    assert schemas["B"].fields == (vyrl.Field("y", "list<A>", True),)
