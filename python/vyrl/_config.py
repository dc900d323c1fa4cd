"""Config: a loaded configuration as an immutable mapping of typed values."""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from typing import TypeVar, overload

from . import _into
from ._into import _Mismatch, _native_plans
from ._native import Loaded
from ._native import build as _build

__all__ = ["Config", "Field", "Location", "Schema", "TypeInfo"]

T = TypeVar("T")
_Default = TypeVar("_Default")



@dataclass(frozen=True, slots=True)
class Location:
    """Where the winning assignment of a key is: file (as written, or the text's
    source name, or "$VARIABLE" for an environment override) and line."""

    file: str
    line: int | None

    def __str__(self) -> str:
        return self.file if self.line is None else f"{self.file}:{self.line}"


@dataclass(frozen=True, slots=True)
class TypeInfo:
    """The type a schema gave a key, and what that type name means.

    ``declared`` is the field's type as written (None for a key no schema
    types), ``schema`` the schema whose field it is, ``resolves_to`` the
    built-in type or schema it ends at after ``aliases``, and ``family`` one of
    "primitive", "list", "time", "math", "physics" or "schema".
    """

    declared: str | None
    schema: str | None = None
    resolves_to: str | None = None
    family: str | None = None
    aliases: tuple[str, ...] = ()


@dataclass(frozen=True, slots=True)
class Field:
    """A field of a schema: its name, its type as written, and whether it may be left out."""

    name: str
    type: str
    optional: bool


@dataclass(frozen=True, slots=True)
class Schema:
    """A schema in effect once the configuration was read, where it was declared."""

    name: str
    fields: tuple[Field, ...]
    location: Location


def _thaw(value: object) -> object:
    # Lists and objects are handed out as fresh copies: the stored ones are
    # shared by every reader and must never change.
    if type(value) is list:
        return [_thaw(item) for item in value]
    if type(value) is dict:
        return {name: _thaw(item) for name, item in value.items()}
    return value


class Config(Mapping[str, object]):
    """A loaded configuration: each key's value typed by its schema field.

    Made by vyrl.load and vyrl.loads, never changed afterwards, so one Config
    may be read from any number of threads at once. Keys iterate in the order
    their winning assignments were read.
    """

    __slots__ = ("_loaded",)

    _loaded: Loaded

    def __init__(self, other: Config) -> None:
        """A Config is made by vyrl.load or vyrl.loads; this copies one."""
        if not isinstance(other, Config):
            raise TypeError("Config() copies a Config; use vyrl.load or vyrl.loads to read one")
        _fill(self, other._loaded)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"Config is immutable; cannot set {name!r}")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"Config is immutable; cannot delete {name!r}")

    @property
    def _values(self) -> dict[str, object]:
        # Converted when first asked for, once for every reader: a load that
        # is handed on or asked for a few keys does not convert the rest.
        return self._loaded.values()

    def __getitem__(self, key: str) -> object:
        value = self._values[key]
        if type(value) is list or type(value) is dict:
            return _thaw(value)
        return value

    @overload
    def get(self, key: str, /) -> object | None: ...
    @overload
    def get(self, key: str, /, default: _Default) -> object | _Default: ...
    def get(self, key: str, /, default: object = None) -> object:
        try:
            return self[key]
        except KeyError:
            return default

    def __contains__(self, key: object) -> bool:
        return key in self._values

    def __iter__(self) -> Iterator[str]:
        return iter(self._values)

    def __len__(self) -> int:
        return len(self._values)

    def __repr__(self) -> str:
        return f"Config({self.to_dict()!r})"

    def raw(self, key: str) -> str:
        """The value's text as stored: one pair of enclosing quotes removed, nothing converted."""
        return self._loaded.raw(key)

    def type_of(self, key: str) -> TypeInfo:
        """The type the key's schema field declared and what it resolves to."""
        typing = self._loaded.typing(key)
        if typing is None:
            return TypeInfo(None)
        declared, schema, ends, name, family, aliases = typing
        if ends == "schema":
            return TypeInfo(declared, schema, name, "schema", aliases)
        if ends != "builtin":
            return TypeInfo(declared, schema, None, None, aliases)
        return TypeInfo(declared, schema, name, family, aliases)

    def where(self, key: str) -> Location:
        """The file and line of the assignment that gave the key its value."""
        file, line = self._loaded.where(key)
        return Location(file, line or None)

    def schemas(self) -> dict[str, Schema]:
        """The schemas in effect, by name, in the order they were declared."""
        return {
            name: Schema(name, tuple(Field(*field) for field in fields), Location(file, line or None))
            for name, file, line, fields in self._loaded.schemas()
        }

    def to_dict(self) -> dict[str, object]:
        """A plain dict of the typed values, objects and lists as dicts and lists."""
        return {key: _thaw(value) for key, value in self._values.items()}

    def into(self, cls: type[T]) -> T:
        """The configuration as an instance of a dataclass, TypedDict or NamedTuple.

        Each field takes the key of its name (or of the name in the dataclass
        field's metadata["vyrl"]), checked against the field's annotation;
        objects go into nested classes. A field the configuration leaves out
        takes its default, or None when its annotation allows it. Anything
        else raises VyrlError naming the key, the field, what was expected and
        what was found, and where the key was set.
        """
        plan = _native_plans.get(cls)
        if plan is not None:
            built = _build(plan, self._values, _Mismatch)
            if built is not NotImplemented:
                return built  # type: ignore[no-any-return]
        made: T = _into.build(self, cls)
        return made


_set = object.__setattr__


def _fill(config: Config, loaded: Loaded) -> None:
    _set(config, "_loaded", loaded)
