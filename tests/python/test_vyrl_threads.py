"""One Config read by many threads at once, and loads that leave nothing behind."""

import gc
import threading
import tracemalloc
from dataclasses import dataclass

import pytest

import vyrl

TEXT = """\
@schema Endpoint { host: string, port: i32 }
@schema App { ports: list<i32>, main: Endpoint, ratio: f64 }
ports = [1, 2, 3]
main = { host = h, port = 4 }
ratio = 0.5
"""


@dataclass(frozen=True)
class Endpoint:
    host: str
    port: int


@dataclass(frozen=True)
class App:
    ports: list[int]
    main: Endpoint
    ratio: float


def test_threads_share_one_config():
    cfg = vyrl.loads(TEXT)
    expected = cfg.to_dict()
    start = threading.Barrier(8)
    failures: list[BaseException] = []

    def read() -> None:
        try:
            start.wait()
            for _ in range(300):
                assert cfg.to_dict() == expected
                ports = cfg["ports"]
                ports.append(99)  # a copy: no other thread may see it
                assert cfg.into(App).main.port == 4
                assert cfg.where("ratio").line == 5 and "main" in cfg
        except BaseException as error:  # noqa: BLE001
            failures.append(error)

    threads = [threading.Thread(target=read) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert cfg["ports"] == [1, 2, 3]


def test_threads_load_at_once():
    results: list[object] = []

    def load(n: int) -> None:
        for _ in range(50):
            results.append(vyrl.loads(TEXT + f"n = {n}\n")["n"])

    threads = [threading.Thread(target=load, args=(n,)) for n in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(set(results)) == [str(n) for n in range(6)]


def churn() -> None:
    for _ in range(200):
        vyrl.loads(TEXT, into=App)
        with pytest.raises(vyrl.VyrlError):
            vyrl.loads(TEXT + "ratio = none\n")
        with pytest.raises(vyrl.VyrlError):
            vyrl.loads("ratio = x\n", into=App)
        with pytest.raises(FileNotFoundError):
            vyrl.load("/nonexistent/app.vyr")


def test_loads_conversions_and_failures_keep_memory_flat():
    churn()  # the first round fills caches and plans
    gc.collect()
    tracemalloc.start()
    try:
        churn()
        gc.collect()
        before = tracemalloc.get_traced_memory()[0]
        for _ in range(3):
            churn()
        gc.collect()
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
    assert after - before < 64 * 1024


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_native_memory_stays_flat_too():
    # tracemalloc sees only Python's allocations; a model or document kept by
    # mistake would show here, at some kilobytes a load.
    churn()
    gc.collect()
    before = resident_bytes()
    for _ in range(10):
        churn()
    gc.collect()
    assert resident_bytes() - before < 8 * 1024 * 1024


def test_threads_asking_a_fresh_config_at_once_share_one_conversion():
    # Values are converted on first use; readers racing to it must all get
    # the one conversion, never a second one or a half-made one.
    for _ in range(20):
        cfg = vyrl.loads(TEXT)
        start = threading.Barrier(8)
        seen: list[object] = []

        def read() -> None:
            start.wait()
            seen.append(cfg._loaded.values())

        threads = [threading.Thread(target=read) for _ in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        assert len(seen) == 8 and all(values is seen[0] for values in seen)
        assert seen[0] == cfg.to_dict()
