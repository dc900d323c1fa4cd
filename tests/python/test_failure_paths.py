"""What is left after a call fails on its way: out of memory, interrupted, or
with an error message that would otherwise quote the whole input."""

import os
import subprocess
import sys
import textwrap
import time

import pytest

from vyr_rs import VYRL

testcapi = pytest.importorskip("_testcapi")


def consistent(document: VYRL) -> None:
    """Every way of reading a document agrees with its to_dict()."""
    pairs = document.to_dict()
    assert sorted(document.keys()) == sorted(pairs)
    assert len(document) == len(pairs)
    for key, value in pairs.items():
        assert document[key] == value
        holder = document.find_key(value)
        assert holder is not None and pairs[holder] == value
        assert value in document


def failing_from(n: int, call):
    """Runs `call` with every Python allocation from the nth on failing."""
    testcapi.set_nomemory(n, 0)
    try:
        call()
    except MemoryError:
        return True
    finally:
        testcapi.remove_mem_hooks()
    return False


@pytest.mark.parametrize("operation", [
    lambda d: d.merge_content("\n".join(f"k{i} = much longer value {i}" for i in range(40))),
    lambda d: d.merge_content("@schema S { k1: i32, k2*: string }\nk1 = 7\nk2 = two"),
    lambda d: [d[f"k{i}"] for i in range(40)],
    lambda d: d.to_dict(),
    lambda d: d.find_key("v5"),
    lambda d: d.find_object("o"),
], ids=["replace", "schema", "getitem", "to_dict", "find_key", "find_object"])
def test_a_failed_python_allocation_leaves_the_document_consistent(operation):
    text = "\n".join(f"k{i} = v{i}" for i in range(40)) + "\no = { a = 1, b = 2 }"
    for n in range(0, 400, 7):
        document = VYRL.parse(text)
        [document[f"k{i}"] for i in range(0, 40, 3)]  # some values cached as str
        failed = failing_from(n, lambda: operation(document))
        consistent(document)
        # A later merge is seen by every reading, cached or not.
        document.merge_content("k3 = changed")
        assert document["k3"] == "changed" == document.to_dict()["k3"]
        if not failed:
            break


def run_isolated(code: str, cwd, timeout: float = 60) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, capture_output=True, text=True,
                          timeout=timeout, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})


# The cache of value strs grows its list of filled positions past 131072 here;
# with too little address space left for that, the str made for the position
# must not stay behind where the next merge cannot forget it.
STR_CACHE = """
    import resource
    from vyr_rs import VYRL
    n = 131072
    d = VYRL.parse("\\n".join(f"k{i} = v{i}" for i in range(n + 8)))

    class Key(str):
        pass  # read with these, the strs stay out of the dict by key, which would grow (and free) memory too

    d[Key(f"k{n + 4}")]  # the table of strs reaches past n now, and only the list of filled ones grows below
    for i in range(n - 1):
        d[Key(f"k{i}")]
    used = int(next(l for l in open("/proc/self/status") if l.startswith("VmSize")).split()[1]) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (used + (512 << 10), resource.RLIM_INFINITY))
    try:
        d[f"k{n}"]
        hit = False
    except MemoryError:
        hit = True
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    d.merge_content(f"k{n} = new")
    print(hit, d[f"k{n}"], d.to_dict()[f"k{n}"])
"""


def test_a_value_str_made_before_a_failure_is_forgotten_by_the_next_merge(tmp_path):
    result = run_isolated(STR_CACHE, tmp_path)
    assert result.returncode == 0, result.stderr
    hit, got, expected = result.stdout.split()
    if hit != "True":
        pytest.skip("the address-space limit did not make the cache's list fail to grow here")
    assert got == expected == "new"


INTERRUPTED = """
    import os, signal, sys, threading
    from vyr_rs import VYRL
    threading.Timer(0.5, lambda: os.kill(os.getpid(), signal.SIGINT)).start()
    try:
        {call}
    except KeyboardInterrupt:
        print("interrupted")
"""


@pytest.mark.parametrize("call", [
    'VYRL.load("fifo")',
    'VYRL.parse("a = 1\\n@import fifo")',
    'd = VYRL.parse("a = 1"); d.merge_file("fifo")',
])
def test_ctrl_c_ends_a_read_that_waits_for_a_writer(tmp_path, call):
    os.mkfifo(tmp_path / "fifo")
    started = time.monotonic()
    result = run_isolated(INTERRUPTED.replace("{call}", call), tmp_path, timeout=30)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "interrupted"
    assert time.monotonic() - started < 10


# A signal handler runs on the owner thread while merge_file waits for a
# writer, with the document borrowed for writing: every read it makes must be
# refused, those answered from what earlier reads kept included.
REENTRY = """
    import os, signal, threading, time
    from vyr_rs import VYRL

    class Key(str):
        pass

    doc = VYRL.parse("a = 1")
    doc["a"], doc["a"], doc[Key("a")]  # read before, and again, so kept by key too
    reads = [lambda: doc["a"], lambda: doc[Key("a")], lambda: doc["b"], lambda: "a" in doc, lambda: len(doc)]
    refusals = []

    def handler(*_):
        for read in reads:
            try:
                read()
                refusals.append(None)
            except RuntimeError as error:
                refusals.append(str(error))

    signal.signal(signal.SIGALRM, handler)
    os.mkfifo("pipe.vyr")
    signal.setitimer(signal.ITIMER_REAL, 0.1)

    def writer():
        time.sleep(0.5)  # the alarm goes off while the open waits for a writer
        with open("pipe.vyr", "w") as pipe:
            pipe.write("a = 2\\nb = 3\\n")

    threading.Thread(target=writer).start()
    doc.merge_file("pipe.vyr")
    print(refusals == ["Already mutably borrowed"] * len(reads), doc["a"], doc[Key("a")], doc["b"])
"""


def test_reads_from_a_signal_handler_during_a_merge_are_refused(tmp_path):
    result = run_isolated(REENTRY, tmp_path, timeout=30)
    assert (result.returncode, result.stdout.split()) == (0, ["True", "2", "2", "3"]), result.stderr


def test_messages_of_deep_lists_stay_bounded():
    levels, items = 250, 300_000
    value = "[" * levels + "1, " * (items - 1) + "x" + "]" * levels
    started = time.monotonic()
    with pytest.raises(RuntimeError) as raised:
        VYRL.parse(f"@schema T {{ v: {'list<' * levels}i32{'>' * levels} }}\nv = {value}")
    assert time.monotonic() - started < 5
    message = str(raised.value)
    assert len(message.encode()) < 64 << 10
    assert message.endswith("Invalid value: Expected i32, got 'x'")
    assert sum(len(note) for note in raised.value.__notes__) < 64 << 10
