from typing import Any

__version__: str

def load(
    path: str | None,
    text: str | None,
    source: str | None,
    root: str | None,
    environment: dict[str, str] | None,
    prefix: str | None,
) -> tuple[Any, ...]: ...
