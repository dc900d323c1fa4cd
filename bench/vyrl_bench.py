"""What the vyrl package costs over vyr_rs, and into= against pydantic.

    python=$(scripts/bench-env.sh python3)
    PYTHONPATH=build/src/python:build/src/python_vyrl "$python" bench/vyrl_bench.py [--json out.json]

One 30-line configuration with a schema, measured four ways in alternating
rounds (so that the machine's load falls on all alike), each the best round's
processor time per call, which the other work of a shared machine disturbs
less than wall time:

  VYRL.parse             vyr_rs, every value text
  vyrl.loads             a typed Config (the model of the load, values converted)
  cfg.into(Server)       the Config into a dataclass
  pydantic               the same values, typed, validated into a pydantic model
                         (model_validate on cfg.to_dict(); left out when pydantic
                         is not installed)

pydantic is only ever installed into the bench environment.
"""

from __future__ import annotations

import argparse
import json
import time
import timeit
from collections.abc import Callable
from dataclasses import dataclass

import vyrl
from vyr_rs import VYRL

TEXT = """\
@type port = i32
@schema Endpoint { host: string, port: port, tls*: bool }
@schema Server {
  name: string
  host: string
  port: port
  workers: i32
  ratio: f64
  debug: bool
  timeout: time::duration
  speed: physics::meter_per_second
  buffer: physics::byte
  origin: math::vector3
  ports: list<port>
  primary: Endpoint
  accent: color
}
name = alpha
host = alpha.example
port = 8080
workers = 16
ratio = 0.75
debug = false
timeout = PT30S
speed = 12.5
buffer = 65536
origin = 1.0, 2.0, 3.0
ports = [80, 443, 8443]
primary = { host = db.example, port = 5432, tls = true }
accent = #FF8800
"""


@dataclass(frozen=True)
class Endpoint:
    host: str
    port: int
    tls: bool | None = None


@dataclass(frozen=True)
class Server:
    name: str
    host: str
    port: int
    workers: int
    ratio: float
    debug: bool
    timeout: str
    speed: float
    buffer: int
    origin: tuple[float, float, float]
    ports: list[int]
    primary: Endpoint
    accent: str


def pydantic_model() -> Callable[[dict[str, object]], object] | None:
    try:
        import pydantic
    except ImportError:
        return None

    class PEndpoint(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(frozen=True, strict=True)
        host: str
        port: int
        tls: bool | None = None

    class PServer(pydantic.BaseModel):
        model_config = pydantic.ConfigDict(frozen=True, strict=True)
        name: str
        host: str
        port: int
        workers: int
        ratio: float
        debug: bool
        timeout: str
        speed: float
        buffer: int
        origin: tuple[float, float, float]
        ports: list[int]
        primary: PEndpoint
        accent: str

    return PServer.model_validate


def best_microseconds(cases: dict[str, Callable[[], object]], rounds: int, number: int) -> dict[str, float]:
    best = dict.fromkeys(cases, float("inf"))
    for _ in range(rounds):
        for name, call in cases.items():
            seconds = timeit.Timer(call, timer=time.process_time).timeit(number=number)
            best[name] = min(best[name], seconds / number * 1e6)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--number", type=int, default=3000)
    parser.add_argument("--json", help="also write the figures to this file")
    arguments = parser.parse_args()

    assert len(TEXT.splitlines()) == 30
    cfg = vyrl.loads(TEXT)
    values = cfg.to_dict()
    assert cfg.into(Server).primary.port == 5432
    cases: dict[str, Callable[[], object]] = {
        "VYRL.parse": lambda: VYRL.parse(TEXT),
        "vyrl.loads": lambda: vyrl.loads(TEXT),
        # Values are converted when first asked for: this is a load whose
        # every value is then read.
        "vyrl.loads + to_dict": lambda: vyrl.loads(TEXT).to_dict(),
        "cfg.into(Server)": lambda: cfg.into(Server),
    }
    validate = pydantic_model()
    if validate is not None:
        validate(values)
        cases["pydantic model_validate"] = lambda: validate(values)
    best = best_microseconds(cases, arguments.rounds, arguments.number)

    for name, microseconds in best.items():
        print(f"{name:<26} {microseconds:8.2f} us")
    print(f"{'vyrl.loads / VYRL.parse':<26} {best['vyrl.loads'] / best['VYRL.parse']:8.2f}")
    print(f"{'  + to_dict / VYRL.parse':<26} {best['vyrl.loads + to_dict'] / best['VYRL.parse']:8.2f}")
    if validate is not None:
        print(f"{'into / pydantic':<26} {best['cfg.into(Server)'] / best['pydantic model_validate']:8.2f}")
    else:
        print("pydantic is not installed here: run from the bench environment (scripts/bench-env.sh)")
    if arguments.json:
        with open(arguments.json, "w", encoding="utf-8") as out:
            json.dump(best, out, indent=2)


if __name__ == "__main__":
    main()
