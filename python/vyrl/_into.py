"""Loading a Config into dataclasses, TypedDicts and NamedTuples.

Each class gets a plan once, from its resolved annotations: per field the key
it reads, the one type a value of that field has when no conversion is needed
(so that most fields cost one type comparison), and a checker for the rest.
"""

from __future__ import annotations

import dataclasses
import sys
import threading
import types
import typing
from collections.abc import Callable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, Union

from . import _native
from ._errors import VyrlError

if TYPE_CHECKING:
    from ._config import Config

__all__ = ["Target", "build"]

Target = Any  # a dataclass, TypedDict or NamedTuple class

_MISSING: Any = object()
_NONE_TYPE = type(None)


class _Mismatch(Exception):
    """A value that does not fit an annotation; `path` grows as it bubbles up."""

    def __init__(self, expected: str, found: object, path: tuple[str, ...] = (), missing: bool = False) -> None:
        super().__init__(expected)
        self.expected = expected
        self.found = found
        self.path = path
        self.missing = missing


def _describe(annotation: object) -> str:
    if isinstance(annotation, type) and not get_args(annotation):
        return annotation.__qualname__
    return repr(annotation).replace("typing.", "")


def _found(value: object) -> str:
    shown = repr(value)
    if len(shown) > 80:
        shown = shown[:77] + "..."
    return f"{type(value).__name__} {shown}"


get_args = typing.get_args
get_origin = typing.get_origin

Check = Callable[[object], object]


def _exact(kind: type) -> Check:
    name = kind.__name__

    def check(value: object) -> object:
        if type(value) is kind:
            return value
        raise _Mismatch(name, value)

    return check


def _real(value: object) -> object:
    # An i32 or a whole-number unit fits a float field, as int fits float in typing.
    if type(value) is float:
        return value
    if type(value) is int:
        return float(value)
    raise _Mismatch("float", value)


def _anything(value: object) -> object:
    return value


def _optional(inner: Check) -> Check:
    def check(value: object) -> object:
        return None if value is None else inner(value)

    return check


def _union(options: list[Check], expected: str) -> Check:
    def check(value: object) -> object:
        for option in options:
            try:
                return option(value)
            except _Mismatch:
                continue
        raise _Mismatch(expected, value)

    return check


def _list_of(item: Check, expected: str) -> Check:
    def check(value: object) -> object:
        if type(value) is not list:
            raise _Mismatch(expected, value)
        out = []
        for index, element in enumerate(value):
            try:
                out.append(item(element))
            except _Mismatch as mismatch:
                mismatch.path = (f"[{index}]", *mismatch.path)
                raise
        return out

    return check


def _tuple_of(items: list[Check] | None, rest: Check | None, expected: str) -> Check:
    def check(value: object) -> object:
        if type(value) is not tuple and type(value) is not list:
            raise _Mismatch(expected, value)
        assert isinstance(value, (tuple, list))
        if items is not None and len(value) != len(items):
            raise _Mismatch(expected, value)
        checks: Sequence[Check] = items if items is not None else [rest or _anything] * len(value)
        out = []
        for index, (element, item) in enumerate(zip(value, checks)):
            try:
                out.append(item(element))
            except _Mismatch as mismatch:
                mismatch.path = (f"[{index}]", *mismatch.path)
                raise
        return tuple(out)

    return check


def _mapping_of(item: Check, expected: str) -> Check:
    def check(value: object) -> object:
        if type(value) is not dict:
            raise _Mismatch(expected, value)
        out = {}
        for name, element in value.items():
            try:
                out[name] = item(element)
            except _Mismatch as mismatch:
                mismatch.path = (str(name), *mismatch.path)
                raise
        return out

    return check


def _literal(choices: tuple[object, ...], expected: str) -> Check:
    def check(value: object) -> object:
        for choice in choices:
            if type(choice) is type(value) and choice == value:
                return value
        raise _Mismatch(expected, value)

    return check


def _instance(kind: type) -> Check:
    def check(value: object) -> object:
        if isinstance(value, kind):
            return value
        raise _Mismatch(kind.__qualname__, value)

    return check


def _nested(cls: Target) -> Check:
    def check(value: object) -> object:
        if type(value) is not dict:
            raise _Mismatch(f"an object for {cls.__qualname__}", value)
        return _plan(cls).make(value)

    return check


_SCALARS: dict[object, Check] = {int: _exact(int), str: _exact(str), bool: _exact(bool), float: _real}


def _is_target(annotation: object) -> bool:
    return isinstance(annotation, type) and (
        dataclasses.is_dataclass(annotation)
        or typing.is_typeddict(annotation)
        or (issubclass(annotation, tuple) and hasattr(annotation, "_fields"))
    )


def _checker(annotation: object) -> Check:
    if annotation in _SCALARS:
        return _SCALARS[annotation]
    if annotation is Any or annotation is object:
        return _anything
    if _is_target(annotation):
        return _nested(annotation)
    origin = get_origin(annotation)
    args = get_args(annotation)
    expected = _describe(annotation)
    if origin is Union or origin is types.UnionType:
        options = [arg for arg in args if arg is not _NONE_TYPE]
        inner = _checker(options[0]) if len(options) == 1 else _union([_checker(arg) for arg in options], expected)
        return _optional(inner) if len(options) < len(args) else inner
    if origin is typing.Annotated:
        return _checker(args[0])
    if origin is typing.Literal:
        return _literal(args, expected)
    if origin in (list, Sequence, typing.List):  # noqa: UP006
        return _list_of(_checker(args[0]) if args else _anything, expected)
    if origin is tuple:
        if len(args) == 2 and args[1] is Ellipsis:
            return _tuple_of(None, _checker(args[0]), expected)
        return _tuple_of([_checker(arg) for arg in args], None, expected)
    if origin in (dict, Mapping):
        return _mapping_of(_checker(args[1]) if args else _anything, expected)
    if annotation is _NONE_TYPE or annotation is None:
        return _literal((None,), "None")
    if isinstance(annotation, type):
        return _instance(annotation)
    raise TypeError(f"vyrl cannot check a value against the annotation {annotation!r}")


def _allows_none(annotation: object) -> bool:
    origin = get_origin(annotation)
    if origin is Union or origin is types.UnionType:
        return _NONE_TYPE in get_args(annotation)
    return annotation is Any or annotation is object or annotation is None or annotation is _NONE_TYPE


class _Slot:
    __slots__ = ("allows_none", "annotation", "attribute", "check", "fast", "has_default", "key")

    def __init__(self, attribute: str, key: str, annotation: object, has_default: bool) -> None:
        self.attribute = attribute
        self.key = key
        self.annotation = annotation
        self.has_default = has_default
        self.allows_none = _allows_none(annotation)
        self.fast: object = annotation if annotation in (int, str, bool, float) else None
        self.check: Check | None = None  # made on first use, so that classes may refer to each other


class _Plan:
    def __init__(self, cls: Target) -> None:
        self.cls = cls
        self.name: str = cls.__qualname__
        module = sys.modules.get(cls.__module__)
        hints = typing.get_type_hints(cls, globalns=vars(module) if module else None, include_extras=True)
        self.slots: list[_Slot] = []
        self.kind: str
        if dataclasses.is_dataclass(cls):
            self.kind = "dataclass"
            for field in dataclasses.fields(cls):
                if not field.init:
                    continue
                has_default = field.default is not dataclasses.MISSING or field.default_factory is not dataclasses.MISSING
                key = field.metadata.get("vyrl", field.name)
                self.slots.append(_Slot(field.name, key, hints[field.name], has_default))
        elif typing.is_typeddict(cls):
            self.kind = "typeddict"
            required: frozenset[str] = cls.__required_keys__
            for name, annotation in hints.items():
                self.slots.append(_Slot(name, name, annotation, name not in required))
        elif issubclass(cls, tuple) and hasattr(cls, "_fields"):
            self.kind = "namedtuple"
            defaults: dict[str, object] = cls._field_defaults
            for name in cls._fields:
                self.slots.append(_Slot(name, name, hints.get(name, Any), name in defaults))
        else:
            raise TypeError(f"into= takes a dataclass, TypedDict or NamedTuple class, not {cls!r}")

    def make(self, values: Mapping[str, object]) -> object:
        arguments: dict[str, object] = {}
        for slot in self.slots:
            value = values.get(slot.key, _MISSING)
            if value is _MISSING:
                if slot.has_default:
                    continue
                if slot.allows_none:
                    arguments[slot.attribute] = None
                    continue
                raise _Mismatch(_describe(slot.annotation), None, (slot.attribute,), missing=True)
            if type(value) is slot.fast:
                arguments[slot.attribute] = value
                continue
            check = slot.check
            if check is None:
                check = slot.check = _checker(slot.annotation)
            try:
                arguments[slot.attribute] = check(value)
            except _Mismatch as mismatch:
                mismatch.path = (slot.attribute, *mismatch.path)
                raise
        if self.kind == "typeddict":
            return arguments
        return self.cls(**arguments)


_plans: dict[type, _Plan] = {}
_planning = threading.RLock()


def _plan(cls: Target) -> _Plan:
    plan = _plans.get(cls)
    if plan is None:
        with _planning:
            plan = _plans.get(cls)
            if plan is None:
                plan = _plans[cls] = _Plan(cls)
    return plan


# The same plan as tuples for _native.build, which runs it without the
# interpreter's per-call costs: (cls, make, slots), slots (attribute, key,
# check, missing, default); see native.cpp for the codes.
_EXACT, _REAL, _ANYTHING, _OPTIONAL, _LIST, _TUPLE, _TUPLE_OF, _DICT, _NESTED, _FUNCTION = range(10)
_MAKE_CALL, _MAKE_DICT, _MAKE_DIRECT = range(3)
_REQUIRED, _CLASS_DEFAULT, _DEFAULT, _FACTORY, _NONE = range(5)

_native_plans: dict[type, tuple[Any, ...]] = {}


def _spec(annotation: object, compiling: set[type]) -> tuple[Any, ...]:
    if annotation in (int, str, bool):
        return (_EXACT, annotation)
    if annotation is float:
        return (_REAL, None)
    if annotation is Any or annotation is object:
        return (_ANYTHING, None)
    if _is_target(annotation):
        assert isinstance(annotation, type)
        if annotation in compiling:  # a class that holds itself: the Python checker recurses lazily
            return (_FUNCTION, _nested(annotation))
        return (_NESTED, _native_plan(annotation, compiling))
    origin = get_origin(annotation)
    args = get_args(annotation)
    if origin is Union or origin is types.UnionType:
        options = [arg for arg in args if arg is not _NONE_TYPE]
        if len(options) == 1 and len(options) < len(args):
            return (_OPTIONAL, _spec(options[0], compiling))
    elif origin is list and args:
        return (_LIST, _spec(args[0], compiling))
    elif origin is tuple and args:
        if len(args) == 2 and args[1] is Ellipsis:
            return (_TUPLE_OF, _spec(args[0], compiling))
        return (_TUPLE, tuple(_spec(arg, compiling) for arg in args))
    elif origin is dict and len(args) == 2:
        return (_DICT, _spec(args[1], compiling))
    return (_FUNCTION, _checker(annotation))


def _direct(cls: type) -> bool:
    """Whether a dataclass's __init__ would only set its fields, so that they may be set directly."""
    if not dataclasses.is_dataclass(cls) or hasattr(cls, "__post_init__"):
        return False
    if cls.__new__ is not object.__new__ or any("__slots__" in vars(base) for base in cls.__mro__[:-1]):
        return False
    if not all(field.init for field in dataclasses.fields(cls)):
        return False
    code = getattr(cls.__init__, "__code__", None)
    return code is not None and code.co_filename == "<string>"  # written by @dataclass, not by hand


def _native_plan(cls: type, compiling: set[type] | None = None) -> tuple[Any, ...]:
    found = _native_plans.get(cls)
    if found is not None:
        return found
    compiling = set() if compiling is None else compiling
    compiling.add(cls)
    plan = _plan(cls)
    make = _MAKE_DICT if plan.kind == "typeddict" else _MAKE_DIRECT if _direct(cls) else _MAKE_CALL
    defaults = {field.name: field for field in dataclasses.fields(cls)} if plan.kind == "dataclass" else {}
    slots = []
    for slot in plan.slots:
        missing, default = _REQUIRED, None
        if slot.has_default and make != _MAKE_DIRECT:
            missing = _CLASS_DEFAULT
        elif slot.has_default:
            field = defaults[slot.attribute]
            if field.default is not dataclasses.MISSING:
                missing, default = _DEFAULT, field.default
            else:
                missing, default = _FACTORY, field.default_factory
        elif slot.allows_none:
            missing = _NONE
        slots.append((slot.attribute, slot.key, _spec(slot.annotation, compiling), missing, default))
    compiled = (cls, make, tuple(slots))
    compiling.discard(cls)
    _native_plans[cls] = compiled
    return compiled


def build(config: Config, cls: Target) -> Any:
    """cfg.into(cls): see Config.into."""
    values = config._values
    native = _native_plans.get(cls)
    if native is None:
        with _planning:
            native = _native_plan(cls)
    built = _native.build(native, values, _Mismatch)
    if built is not NotImplemented:
        return built
    # Something does not fit: the interpreted plan finds what, and says so.
    plan = _plan(cls)
    try:
        plan.make(values)
    except _Mismatch as mismatch:
        raise _error(config, plan, mismatch) from None
    raise AssertionError(f"vyrl: {plan.name} refused a value that its checks accept")


def _error(config: Config, plan: _Plan, mismatch: _Mismatch) -> VyrlError:
    attribute = mismatch.path[0]
    slot = next(slot for slot in plan.slots if slot.attribute == attribute)
    field = ".".join((plan.name, *mismatch.path)).replace(".[", "[")
    if mismatch.missing:
        if len(mismatch.path) == 1:
            message = f"Key '{slot.key}' is required by {field} ({mismatch.expected}), but the configuration does not set it"
        else:
            message = (
                f"Field '{mismatch.path[-1]}' is required by {field} ({mismatch.expected}), "
                f"but the object in key '{slot.key}' does not set it"
            )
        return VyrlError(message, kind="NotFound", key=slot.key, **_place(config, slot.key))
    typed = config.type_of(slot.key).declared
    as_typed = f" (typed {typed})" if typed else " (no schema types it)"
    return VyrlError(
        f"Key '{slot.key}' does not fit {field}: expected {mismatch.expected}, found {_found(mismatch.found)}{as_typed}",
        kind="InvalidType",
        key=slot.key,
        **_place(config, slot.key),
    )


def _place(config: Config, key: str) -> dict[str, Any]:
    if key not in config:
        return {}
    location = config.where(key)
    return {"file": location.file, "line": location.line, "chain": ((location.file, location.line),)}
