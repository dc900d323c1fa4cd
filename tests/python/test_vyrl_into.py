"""into=: configurations loaded into dataclasses, TypedDicts and NamedTuples."""

from __future__ import annotations

import dataclasses
from dataclasses import dataclass, field
from typing import Any, NamedTuple, Optional, TypedDict

import pytest

import vyrl

TEXT = """\
@type port = i32
@schema Endpoint { host: string, port: port, tls*: bool }
@schema Server { name: string, port: port, ratio: f64, links*: list<Endpoint>, main: Endpoint, home: math::vector2 }
name = alpha
port = 8080
ratio = 2
main = { host = m.example, port = 443 }
links = [{ host = a, port = 1, tls = true }]
home = 1.5, 2
note = free text
"""


@dataclass(frozen=True)
class Endpoint:
    host: str
    port: int
    tls: bool | None = None


@dataclass(frozen=True)
class Server:
    name: str
    port: int
    ratio: float
    main: Endpoint
    home: tuple[float, float]
    links: list[Endpoint] = field(default_factory=list)
    retries: int = 3
    comment: Optional[str] = None  # noqa: UP045
    text: str = field(default="", metadata={"vyrl": "note"})


class EndpointDict(TypedDict, total=False):
    host: str
    port: int


class ServerDict(TypedDict):
    name: str
    main: EndpointDict
    links: list[EndpointDict]


class ServerTuple(NamedTuple):
    name: str
    port: int
    main: Endpoint
    missing: int = 7


def test_a_dataclass_gets_typed_nested_values_and_its_defaults():
    server = vyrl.loads(TEXT, into=Server)
    assert server == Server(
        name="alpha",
        port=8080,
        ratio=2.0,
        main=Endpoint("m.example", 443),
        home=(1.5, 2.0),
        links=[Endpoint("a", 1, True)],
        text="free text",
    )
    assert type(server.ratio) is float
    assert vyrl.loads(TEXT).into(Server) == server


def test_typeddict_and_namedtuple_take_the_same_values():
    assert vyrl.loads(TEXT, into=ServerDict) == {
        "name": "alpha",
        "main": {"host": "m.example", "port": 443},
        "links": [{"host": "a", "port": 1}],
    }
    assert vyrl.loads(TEXT, into=ServerTuple) == ServerTuple("alpha", 8080, Endpoint("m.example", 443), 7)


def test_load_takes_into_for_a_file(tmp_path):
    (tmp_path / "s.vyr").write_text(TEXT)
    assert vyrl.load(tmp_path / "s.vyr", into=Server).port == 8080


@dataclass
class WantsStrPort:
    port: str


@dataclass
class WantsIntNote:
    note: int


@dataclass
class WantsMissing:
    name: str
    absent: int


@dataclass
class WantsHostInt:
    main: Host


@dataclass
class Host:
    host: int


@dataclass
class WantsVector3:
    home: tuple[float, float, float]


@dataclass
class WantsTls:
    links: list[Tls]


@dataclass
class Tls:
    host: str
    port: int
    tls: bool
    other: bool


@dataclass
class WantsList:
    name: list[str]


# (class, kind, the key, text the message must hold, whether it names a line)
FAILURES = [
    (WantsStrPort, "InvalidType", "port", "WantsStrPort.port: expected str, found int 8080 (typed port)", 5),
    (WantsIntNote, "InvalidType", "note", "WantsIntNote.note: expected int, found str 'free text' (no schema", 10),
    (WantsMissing, "NotFound", "absent", "Key 'absent' is required by WantsMissing.absent (int)", None),
    (WantsHostInt, "InvalidType", "main", "WantsHostInt.main.host: expected int, found str 'm.example'", 7),
    (WantsVector3, "InvalidType", "home", "expected tuple[float, float, float], found tuple (1.5, 2.0)", 9),
    (WantsTls, "NotFound", "links", "Field 'other' is required by WantsTls.links[0].other (bool)", 8),
    (WantsList, "InvalidType", "name", "WantsList.name: expected list[str], found str 'alpha'", 4),
]


@pytest.mark.parametrize(
    "cls, kind, key, text, line", FAILURES, ids=[cls.__name__ for cls, *_ in FAILURES]
)
def test_a_value_that_does_not_fit_names_key_field_and_place(cls, kind, key, text, line):
    with pytest.raises(vyrl.VyrlError) as info:
        vyrl.loads(TEXT, source="server.vyr", into=cls)
    error = info.value
    assert (error.kind, error.key) == (kind, key)
    assert text in error.message
    if line is None:
        assert error.file is None
    else:
        assert (error.file, error.line) == ("server.vyr", line)
        assert str(error).startswith(f"server.vyr:{line}: ")


def test_a_class_that_into_cannot_fill_is_a_type_error():
    with pytest.raises(TypeError):
        vyrl.loads("a = 1").into(dict)

    @dataclass
    class Odd:
        a: Any
        b: object = None
        c: int | str = 0

    assert vyrl.loads("@schema S { c: i32 }\na = 1\nc = 5\n").into(Odd) == Odd("1", None, 5)


def test_into_does_not_bypass_the_class_own_checks():
    @dataclass
    class Checked:
        port: int

        def __post_init__(self) -> None:
            if self.port < 1024:
                raise ValueError("privileged port")

    with pytest.raises(ValueError, match="privileged"):
        vyrl.loads("@schema S { port: i32 }\nport = 80\n", into=Checked)
    assert dataclasses.asdict(vyrl.loads("@schema S { port: i32 }\nport = 8080\n", into=Checked)) == {"port": 8080}
