"""VyrlError and its file-error subclasses."""

from __future__ import annotations

import errno as _errno
import os
from typing import Literal

__all__ = [
    "Kind",
    "VyrlError",
    "VyrlFileNotFoundError",
    "VyrlIsADirectoryError",
    "VyrlNotADirectoryError",
    "VyrlOSError",
    "VyrlPermissionError",
]

Kind = Literal[
    "IoError",
    "ParseError",
    "NotFound",
    "InvalidValue",
    "InvalidType",
    "DirectiveError",
    "SchemaValidationError",
]


class VyrlError(RuntimeError):
    """A configuration that could not be loaded, or a value that does not fit.

    ``message`` is the text vyr_rs gives for the same failure; ``str(error)``
    puts the file and line in front of it. ``chain`` is every (file, line) that
    led to the failing line, outermost first, the failing one last: the file
    given, then each @import or @derive line on the way.
    """

    kind: Kind
    message: str
    file: str | None
    line: int | None
    key: str | None
    chain: tuple[tuple[str, int | None], ...]

    def __init__(
        self,
        message: str,
        *,
        kind: Kind = "InvalidValue",
        file: str | None = None,
        line: int | None = None,
        key: str | None = None,
        chain: tuple[tuple[str, int | None], ...] = (),
    ) -> None:
        where = file if line is None or file is None else f"{file}:{line}"
        super().__init__(f"{where}: {message}" if where else message)
        self.kind = kind
        self.message = message
        self.file = file
        self.line = line
        self.key = key
        self.chain = chain

    # The OSError subclasses would otherwise print "[Errno 2] ...": the same
    # text whatever the class keeps errors alike.
    def __str__(self) -> str:
        return str(self.args[0]) if self.args else self.message


class VyrlOSError(VyrlError, OSError):
    """A file that could not be read, for a reason without a class of its own."""


class VyrlFileNotFoundError(VyrlOSError, FileNotFoundError):
    """A file that does not exist."""


class VyrlPermissionError(VyrlOSError, PermissionError):
    """A file that may not be read."""


class VyrlIsADirectoryError(VyrlOSError, IsADirectoryError):
    """A directory where a file was expected."""


class VyrlNotADirectoryError(VyrlOSError, NotADirectoryError):
    """A path through something that is not a directory."""


_BY_ERRNO: dict[int, type[VyrlOSError]] = {
    _errno.ENOENT: VyrlFileNotFoundError,
    _errno.EACCES: VyrlPermissionError,
    _errno.EPERM: VyrlPermissionError,
    _errno.EISDIR: VyrlIsADirectoryError,
    _errno.ENOTDIR: VyrlNotADirectoryError,
}


def error_from(
    kind: Kind,
    message: str,
    frames: tuple[tuple[str, int, str], ...],
    os_error: int,
    key: str | None,
) -> VyrlError:
    """The exception for a failure as _native reports it."""
    chain = tuple((source, line or None) for source, line, _ in frames)
    file, line = chain[-1] if chain else (None, None)
    if kind == "IoError" and os_error:
        failure = _BY_ERRNO.get(os_error, VyrlOSError)(message, kind=kind, file=file, line=line, key=key, chain=chain)
        failure.errno = os_error
        failure.strerror = os.strerror(os_error)
        failure.filename = file
        return failure
    return VyrlError(message, kind=kind, file=file, line=line, key=key, chain=chain)
