"""Thread binding: every instance belongs to the thread that created it."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

from conftest import FREE_THREADED
from vyr_rs import VYRL

FOREIGN_CALL = "vyr_rs::python::PyVYRL is unsendable, but sent to another thread"
FOREIGN_DROP = "vyr_rs::python::PyVYRL is unsendable, but is being dropped on another thread"

FOREIGN_CALLS = {
    "keys": lambda doc: doc.keys(),
    "to_dict": lambda doc: doc.to_dict(),
    "len": len,
    "repr": repr,
    "contains": lambda doc: "port" in doc,
    "getitem": lambda doc: doc["port"],
    "find_obj": lambda doc: doc.find_obj("port"),
    "find_key": lambda doc: doc.find_key("8080"),
    "find_deep": lambda doc: doc.find_deep("port"),
    "find_list": lambda doc: doc.find_list("port"),
    "find_object": lambda doc: doc.find_object("port"),
    "validate_value": lambda doc: doc.validate_value("i32", "1"),
    "merge_content": lambda doc: doc.merge_content("port = 1"),
    "merge_file": lambda doc: doc.merge_file("/nonexistent.vyr"),
    # The thread is checked before any argument is converted.
    "find_obj(5)": lambda doc: doc.find_obj(5),
    "5 in doc": lambda doc: 5 in doc,
    "merge_content(None)": lambda doc: doc.merge_content(None),
    "validate_value(surrogate)": lambda doc: doc.validate_value("\udc80", 1),
}


@pytest.mark.parametrize("call", FOREIGN_CALLS.values(), ids=FOREIGN_CALLS.keys())
def test_call_from_another_thread_panics(owner_thread, call):
    doc = VYRL.parse("port = 8080")
    with pytest.raises(BaseException) as info:
        owner_thread.run(call, doc)
    panic = type(info.value)
    assert panic.__name__ == "PanicException"
    assert panic.__bases__ == (BaseException,)  # `except Exception` does not catch it
    assert FOREIGN_CALL in str(info.value)
    # Nothing was touched: the owner carries on, both borrows included.
    doc.merge_content("host = h")
    assert doc.to_dict() == {"port": "8080", "host": "h"}


def test_panic_exception_is_one_class(owner_thread):
    doc = VYRL()
    kinds = set()
    for call in (doc.keys, doc.to_dict):
        with pytest.raises(BaseException) as info:
            owner_thread.run(call)
        kinds.add(type(info.value))
    assert len(kinds) == 1


def test_parameter_list_is_checked_before_the_thread(owner_thread):
    doc = VYRL()
    with pytest.raises(TypeError) as info:
        owner_thread.run(lambda: doc.find_obj())
    assert str(info.value) == "VYRL.find_obj() missing 1 required positional argument: 'key'"


@pytest.mark.parametrize("create, length", [
    (lambda path: VYRL(), 0),
    (lambda path: VYRL.parse("a = 1"), 1),
    (lambda path: VYRL.load(path), 1),
], ids=["new", "parse", "load"])
def test_creating_thread_becomes_owner(owner_thread, unraisable, tmp_path, create, length):
    path = tmp_path / "doc.vyr"
    path.write_text("a = 1\n", encoding="utf-8")
    held = owner_thread.run(lambda: [create(str(path))])
    assert owner_thread.run(lambda: len(held[0])) == length
    with pytest.raises(BaseException) as info:
        len(held[0])
    assert FOREIGN_CALL in str(info.value)
    owner_thread.run(held.clear)  # dropped where it belongs: nothing to report
    assert unraisable.reports == []


def test_drop_after_the_owner_thread_ended(unraisable):
    box = []
    worker = threading.Thread(target=lambda: box.append(VYRL.parse("a = 1")))
    worker.start()
    worker.join()
    box.clear()
    assert unraisable.reports == [(RuntimeError, FOREIGN_DROP, VYRL)]


def test_drop_while_the_owner_thread_lives(owner_thread, unraisable):
    """With the GIL the last release runs on the thread that drops the last
    reference, so the document is reported and leaked there. The free-threaded
    runtime gives an object's final release back to the thread that created it
    while that thread lives, so the document is released by its owner and
    there is nothing to report."""
    held = owner_thread.run(lambda: [VYRL.parse("a = 1")])
    doc = held.pop()
    del doc
    owner_thread.run(lambda: None)  # the owner runs again and settles what was handed back
    expected = [] if FREE_THREADED else [(RuntimeError, FOREIGN_DROP, VYRL)]
    assert unraisable.reports == expected


def test_documents_on_different_threads_run_in_parallel():
    threads = 4
    start = threading.Barrier(threads)
    failures = []

    def work(index):
        try:
            entries = {f"t{index}_k{i}": f"v{i}_{index}" for i in range(20_000)}
            start.wait()
            doc = VYRL.parse("\n".join(f"{key} = {value}" for key, value in entries.items()))
            for key, value in entries.items():
                assert doc[key] == value
            assert doc.find_key("v7_%d" % index) == f"t{index}_k7"
            assert doc.to_dict() == entries
            doc.merge_content(f"extra = {index}")
            assert len(doc) == len(entries) + 1
        except BaseException as error:  # noqa: BLE001 - reported below with its thread
            failures.append(f"thread {index}: {type(error).__name__}: {error}")

    workers = [threading.Thread(target=work, args=(index,)) for index in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert failures == []


# A thread started after the owner is gone (it ended, or a fork left it
# behind) is often handed the owner's old thread handle; it is a stranger all
# the same. Threads are started until one gets that handle.
HANDLE_REUSE = """
    import os, sys, threading
    from vyr_rs import VYRL

    def stranger_sees(doc, owner_handle):
        for _ in range(50):
            seen = []

            def probe():
                if threading.get_ident() == owner_handle:
                    try:
                        seen.append(len(doc))
                    except BaseException as error:
                        seen.append(type(error).__name__)

            thread = threading.Thread(target=probe)
            thread.start()
            thread.join()
            if seen:
                return seen[0]
        return "no handle reused"

    made = []
    forked = threading.Event()

    def owner():
        made.append((VYRL.parse("a = 1"), threading.get_ident()))
        if sys.argv[1] == "fork":
            forked.wait()

    thread = threading.Thread(target=owner)
    thread.start()
    while not made:
        pass
    doc, handle = made[0]
    if sys.argv[1] == "ended":
        thread.join()
        print(stranger_sees(doc, handle), flush=True)
    elif os.fork() == 0:
        print(stranger_sees(doc, handle), flush=True)
    else:
        os.wait()
        forked.set()
        thread.join()
    os._exit(0)  # the document is dropped by no one
"""


@pytest.mark.parametrize("gone", ["ended", "fork"])
def test_a_thread_given_the_handle_of_a_gone_owner_is_a_stranger(gone):
    result = subprocess.run([sys.executable, "-W", "ignore", "-c", textwrap.dedent(HANDLE_REUSE), gone],
                            capture_output=True, text=True, timeout=60, check=False,
                            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert result.returncode == 0, result.stderr
    if result.stdout.strip() == "no handle reused":
        pytest.skip("no thread was given the owner's handle here")
    assert result.stdout.strip() == "PanicException"


@pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded interpreter can run without the GIL")
def test_import_keeps_the_gil_disabled():
    environment = {name: value for name, value in os.environ.items() if name != "PYTHON_GIL"}
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", "import sys, vyr_rs; print(sys._is_gil_enabled())"],
        env=environment, capture_output=True, text=True, check=False,
    )
    assert (result.returncode, result.stdout.strip(), result.stderr) == (0, "False", "")
