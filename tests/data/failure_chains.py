"""Reads failure-chains.txt, the table of nested failures that every test suite checks."""

from dataclasses import dataclass, field
from pathlib import Path

TABLE = Path(__file__).with_name("failure-chains.txt")


@dataclass
class Frame:
    file: str
    line: int
    origin: str


@dataclass
class Scenario:
    name: str
    files: dict[str, str] = field(default_factory=dict)
    load: str = ""
    message: str = ""
    kind: str = ""
    frames: list[Frame] = field(default_factory=list)
    hint: str | None = None

    def write(self, directory: Path) -> None:
        for name, text in self.files.items():
            (directory / name).write_text(text, encoding="utf-8")

    def notes(self) -> list[str]:
        """The notes a traceback shows: the failing place, then each file that led there, then the hint."""
        failing = self.frames[-1]
        if failing.line:
            notes = [f"in {failing.file}, line {failing.line}"]
        else:
            notes = [("while reading " if self.kind == "IoError" else "in ") + failing.file]
        for outer, inner in zip(reversed(self.frames[:-1]), reversed(self.frames[1:])):
            notes.append(f"{inner.origin} from {outer.file}, line {outer.line}")
        return notes + ([self.hint] if self.hint else [])


def scenarios() -> list[Scenario]:
    table: list[Scenario] = []
    for line in TABLE.read_text(encoding="utf-8").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        word, _, rest = line.partition(" ")
        if word == "scenario":
            table.append(Scenario(rest))
        elif word == "write":
            name, _, text = rest.partition(": ")
            current = table[-1].files
            current[name.rstrip(":")] = current.get(name.rstrip(":"), "") + text + "\n"
        elif word == "frame":
            file, number, origin = rest.split(" ")
            table[-1].frames.append(Frame(file, int(number), origin))
        elif word in ("load", "message", "kind", "hint"):
            setattr(table[-1], word, rest)
        else:
            raise ValueError(f"{TABLE.name}: unknown line {line!r}")
    return table
