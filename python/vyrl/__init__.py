"""Typed VYRL configurations for Python.

    import vyrl

    cfg = vyrl.load("app.vyr")          # a Config: an immutable mapping
    cfg["port"]                          # 8080, an int, when a schema types it i32
    server = vyrl.load("app.vyr", into=Server)

Values are converted only where the language gives their text one meaning (see
the table in docs/python.md); cfg.raw(key) is always the text as written.
The low-level document class is vyr_rs.VYRL.
"""

from __future__ import annotations

import os
from typing import Any, TypeVar, overload

from . import _native
from ._config import Config, Field, Location, Schema, TypeInfo, _fill
from ._errors import (
    Kind,
    VyrlError,
    VyrlFileNotFoundError,
    VyrlIsADirectoryError,
    VyrlNotADirectoryError,
    VyrlOSError,
    VyrlPermissionError,
    error_from,
)

__all__ = [
    "Config",
    "Field",
    "Kind",
    "Location",
    "Schema",
    "TypeInfo",
    "VyrlError",
    "VyrlFileNotFoundError",
    "VyrlIsADirectoryError",
    "VyrlNotADirectoryError",
    "VyrlOSError",
    "VyrlPermissionError",
    "__version__",
    "load",
    "loads",
]

__version__: str = _native.__version__

T = TypeVar("T")
_new_config = Config.__new__


def _environment(prefix: str | None) -> dict[str, str] | None:
    if prefix is None:
        return None
    return {name: value for name, value in os.environ.items() if name.startswith(prefix)}


def _finish(result: tuple[Any, ...], into: Any) -> Any:
    if not result[0]:
        raise error_from(*result[1:]) from None
    config = _new_config(Config)
    _fill(config, result[1])
    return config if into is None else config.into(into)


@overload
def load(
    path: str | os.PathLike[str], *, root: str | os.PathLike[str] | None = None, env_prefix: str | None = None
) -> Config: ...
@overload
def load(
    path: str | os.PathLike[str],
    *,
    into: type[T],
    root: str | os.PathLike[str] | None = None,
    env_prefix: str | None = None,
) -> T: ...
def load(
    path: str | os.PathLike[str],
    *,
    into: Any = None,
    root: str | os.PathLike[str] | None = None,
    env_prefix: str | None = None,
) -> Any:
    """Loads the file at `path`, its @import and @derive lines included.

    Paths in those lines are taken from the working directory, as `vyrl check`
    takes them, or from `root` when given. With `env_prefix`, an environment
    variable named the prefix and a key upper-cased (each character other than
    a letter, digit or "_" written "_") replaces that key's value, checked as a
    line merged after the file would be. With `into`, the Config is loaded
    into that class (see Config.into). Failures raise VyrlError.
    """
    result = _native.load(
        os.fspath(path),
        None,
        None,
        None if root is None else os.fspath(root),
        _environment(env_prefix),
        env_prefix,
    )
    return _finish(result, into)


@overload
def loads(
    text: str, source: str = "<inline>", *, root: str | os.PathLike[str] | None = None, env_prefix: str | None = None
) -> Config: ...
@overload
def loads(
    text: str,
    source: str = "<inline>",
    *,
    into: type[T],
    root: str | os.PathLike[str] | None = None,
    env_prefix: str | None = None,
) -> T: ...
def loads(
    text: str,
    source: str = "<inline>",
    *,
    into: Any = None,
    root: str | os.PathLike[str] | None = None,
    env_prefix: str | None = None,
) -> Any:
    """Loads a text, named `source` in errors and in Config.where; otherwise as load."""
    result = _native.load(
        None,
        text,
        source,
        None if root is None else os.fspath(root),
        _environment(env_prefix),
        env_prefix,
    )
    return _finish(result, into)
