from typing import Any, final

__version__: str

@final
class Loaded:
    def raw(self, key: str, /) -> str: ...
    def where(self, key: str, /) -> tuple[str, int]: ...
    def typing(self, key: str, /) -> tuple[str, str, str, str, str | None, tuple[str, ...]] | None: ...
    def schemas(self) -> tuple[tuple[str, str, int, tuple[tuple[str, str, bool], ...]], ...]: ...

def load(
    path: str | None,
    text: str | None,
    source: str | None,
    root: str | None,
    environment: dict[str, str] | None,
    prefix: str | None,
    /,
) -> tuple[Any, ...]: ...

def build(plan: tuple[Any, ...], values: dict[str, object], mismatch_type: type[BaseException], /) -> Any: ...
