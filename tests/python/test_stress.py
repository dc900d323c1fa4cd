"""Many threads at once, with nothing to serialise them.

Only a free-threaded interpreter runs Python threads truly in parallel, so only
there can a missing check show up as a torn result. While owners work on their
own documents, strangers call those documents, documents die away from the
thread that made them, and a finalizer reaches into a document while its owner
is reading it. Every owner result must be the exact one a lone thread would
get, every stranger must be refused, and every foreign drop reported once.
"""

import gc
import threading
import time

import pytest

from conftest import FREE_THREADED
from test_threads import FOREIGN_CALL, FOREIGN_CALLS, FOREIGN_DROP
from vyr_rs import VYRL

pytestmark = pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded interpreter runs threads in parallel")

# The parallel phase stops at whichever comes first: this many seconds, or each
# loop's own count below. Either way the whole test stays near 20 seconds.
BUDGET_SECONDS = 12.0
OWNERS = 2
OWNER_ROUNDS = 400
STRANGERS = 2
STRANGER_CALLS = 40_000
CREATIONS = 400
COLLECTIONS = 400
READS = 4_000
BIG = 20_000  # keys in the document the finalizer reaches into; reading it takes a while

BAD_PORT = "Schema 'S' validation error: field 'port' (type 'i32') — Invalid value: Expected i32, got 'fast'"


class Run:
    """What every thread shares: the clock, the exhibits and the findings."""

    def __init__(self):
        self.deadline = time.monotonic() + BUDGET_SECONDS
        self.start = threading.Barrier(OWNERS + STRANGERS + 3)
        # Set once no stranger can touch an exhibit any more; only then do the
        # owners let go of theirs, so that each is released by its own thread.
        self.strangers_done = threading.Event()
        self.exhibits = [None] * (OWNERS + 1)  # the last is the big one
        self.reading = None  # "keys" or "to_dict" while the big one's owner reads it
        self.failures = []
        self.rounds = [0] * OWNERS
        self.refusals = []  # (exception type, message) of every stranger call
        self.finalized = []  # (what the owner was reading, exception type, message)
        self.drops = 0

    def running(self, count, limit):
        return count < limit and time.monotonic() < self.deadline

    def guard(self, name, body, *args):
        try:
            self.start.wait()
            body(self, *args)
        except BaseException as error:  # noqa: BLE001 - reported with its thread below
            self.failures.append(f"{name}: {error!r}")


def owner_round(index, round_):
    """One fresh document, parsed, merged and read back every way there is."""
    prefix = f"o{index}r{round_}"
    entries = {f"{prefix}k{i}": f"{prefix}v{i}" for i in range(300)}
    doc = VYRL.parse("\n".join(f"{key} = {value}" for key, value in entries.items()))
    extra = {
        "port": str(round_),
        "link": f"{prefix}k0",
        "ports": f"[1, {round_}]",
        "obj": f"{{ a = {prefix}, b = 2 }}",
    }
    assert doc.merge_content("@schema S { port: i32 }\n" + "\n".join(f"{k} = {v}" for k, v in extra.items())) is None
    entries.update(extra)
    with pytest.raises(RuntimeError) as refused:
        doc.merge_content("port = fast")
    assert str(refused.value) == BAD_PORT
    del refused  # its traceback holds this frame, and with it the document

    assert doc.to_dict() == entries
    keys = doc.keys()
    assert len(keys) == len(entries) and set(keys) == entries.keys()
    assert len(doc) == len(entries)
    assert doc[f"{prefix}k7"] == f"{prefix}v7"
    assert doc[f"{prefix}v7"] == f"{prefix}k7"
    assert doc.find_key(f"{prefix}v9") == f"{prefix}k9"
    assert doc.find_deep("link") == f"{prefix}v0"
    assert doc.find_list("ports") == ["1", str(round_)]
    assert doc.find_object("obj") == {"a": prefix, "b": "2"}
    assert doc.find_obj("missing") is None
    assert "port" in doc and "missing" not in doc
    assert doc.validate_value("i32", str(round_)) is None


def owner(run, index):
    exhibit = VYRL.parse("base = 0")
    expected = {"base": "0"}
    run.exhibits[index] = exhibit
    round_ = 0
    while run.running(round_, OWNER_ROUNDS):
        owner_round(index, round_)
        # The exhibit grows while strangers are calling it.
        exhibit.merge_content(f"r{round_} = {index}.{round_}")
        expected[f"r{round_}"] = f"{index}.{round_}"
        assert exhibit[f"r{round_}"] == f"{index}.{round_}"
        assert len(exhibit) == len(expected)
        if round_ % 16 == 0:
            assert exhibit.to_dict() == expected
        round_ += 1
        run.rounds[index] = round_
    assert exhibit.to_dict() == expected
    run.strangers_done.wait()
    run.exhibits[index] = None
    del exhibit


def reader(run):
    """Owns the big document and reads it whole, over and over."""
    entries = {f"k{i}": f"v{i}" for i in range(BIG)}
    doc = VYRL.parse("\n".join(f"{key} = {value}" for key, value in entries.items()))
    run.exhibits[OWNERS] = doc
    count = 0
    while run.running(count, READS):
        run.reading = "keys"
        keys = doc.keys()
        run.reading = "to_dict"
        as_dict = doc.to_dict()
        run.reading = None
        assert len(keys) == BIG and set(keys) == entries.keys()
        assert as_dict == entries
        count += 1
    run.strangers_done.wait()
    run.exhibits[OWNERS] = None
    del doc


def stranger(run, index):
    calls = list(FOREIGN_CALLS.values())
    count = 0
    while run.running(count, STRANGER_CALLS):
        doc = run.exhibits[(index + count) % len(run.exhibits)]
        if doc is None:  # its owner has not published it yet
            time.sleep(0.001)
            continue
        try:
            calls[count % len(calls)](doc)
        except BaseException as error:  # noqa: BLE001 - every call must raise, checked below
            run.refusals.append((type(error), str(error)))
        else:
            run.refusals.append((None, f"call {count % len(calls)} went through"))
        count += 1


class Canary:
    """Garbage in a cycle whose finalizer writes to, then reads, the big document."""

    def __init__(self, run, number):
        self.run = run
        self.number = number
        self.cycle = self

    def __del__(self):
        run = self.run
        reading = run.reading
        doc = run.exhibits[OWNERS]
        use = (lambda d: d.merge_content("k0 = changed"), VYRL.keys, VYRL.to_dict)[self.number % 3]
        try:
            use(doc)
        except BaseException as error:  # noqa: BLE001 - the finalizer must not leak it
            run.finalized.append((reading, type(error), str(error)))
        else:
            run.finalized.append((reading, None, "went through"))


def collector(run):
    """Makes finalizable garbage and collects it from this thread, so the
    finalizer runs here while the document's owner carries on."""
    while run.exhibits[OWNERS] is None and time.monotonic() < run.deadline:
        time.sleep(0.001)
    count = 0
    while run.running(count, COLLECTIONS):
        Canary(run, count)
        gc.collect()
        count += 1


def dropper(run, path):
    """Documents made by a thread that then ends, dropped here."""
    makers = (VYRL, lambda: VYRL.parse("a = 1"), lambda: VYRL.load(path))
    count = 0
    while run.running(count, CREATIONS):
        box = []
        creator = threading.Thread(target=lambda: box.extend(make() for make in makers))
        creator.start()
        creator.join()
        assert len(box) == len(makers)
        box.clear()
        run.drops += len(makers)
        count += 1


def test_owners_strangers_drops_and_finalizers_in_parallel(unraisable, tmp_path):
    path = tmp_path / "doc.vyr"
    path.write_text("a = 1\n", encoding="utf-8")
    # Garbage that earlier tests left behind may hold documents; collected by
    # the collector thread below it would be reported as this test's drops.
    gc.collect()
    unraisable.reports.clear()
    run = Run()

    def spawn(name, body, *args):
        # A daemon, so that a thread stuck by a fault fails the test below
        # instead of hanging the interpreter at exit.
        return threading.Thread(target=run.guard, args=(name, body, *args), name=name, daemon=True)

    strangers = [spawn(f"stranger {i}", stranger, i) for i in range(STRANGERS)]
    strangers += [spawn("collector", collector), spawn("dropper", dropper, str(path))]
    owners = [spawn(f"owner {i}", owner, i) for i in range(OWNERS)] + [spawn("reader", reader)]

    # Only the collector thread collects, so every finalizer runs there.
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        for thread in owners + strangers:
            thread.start()
        for thread in strangers:
            thread.join(BUDGET_SECONDS + 30)
        run.strangers_done.set()
        for thread in owners:
            thread.join(30)
    finally:
        run.strangers_done.set()
        if was_enabled:
            gc.enable()
    assert [thread.name for thread in owners + strangers if thread.is_alive()] == []
    assert run.failures == []
    assert all(rounds > 0 for rounds in run.rounds), run.rounds

    # Every stranger call refused with the same panic, and nothing else.
    assert run.refusals, "no stranger call was made"
    panic = run.refusals[0][0]
    assert panic is not None and panic.__name__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    assert set(run.refusals) == {(panic, FOREIGN_CALL)}

    # The finalizer ran away from the owner, so it was refused too, at least
    # once while the owner was inside a read, and the reads above stayed exact.
    assert run.finalized, "no finalizer ran"
    assert {(kind, message) for _, kind, message in run.finalized} == {(panic, FOREIGN_CALL)}
    assert any(reading in ("keys", "to_dict") for reading, _, _ in run.finalized)

    # Each document dropped by the dropper was reported once; the owners'
    # documents, released at home, not at all.
    assert run.drops > 0
    assert unraisable.reports == [(RuntimeError, FOREIGN_DROP, VYRL)] * run.drops
