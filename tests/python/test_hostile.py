"""Files written to hurt the reader: each must end in an ordinary error, soon."""

import os
import subprocess
import sys
import textwrap

import pytest

from vyr_rs import VYRL

from conftest import FREE_THREADED


def run_isolated(code: str, cwd, timeout: float = 60) -> subprocess.CompletedProcess:
    """Runs `code` in a fresh interpreter, so a hang or a crash fails one test only."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], cwd=cwd, capture_output=True, text=True,
                          timeout=timeout, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})


def test_an_endless_file_is_refused_at_the_size_limit():
    with pytest.raises(RuntimeError) as raised:
        VYRL.parse("@import /dev/zero")
    assert str(raised.value) == "IO Error: File too large (os error 27)"
    assert raised.value.__notes__ == ["while reading /dev/zero", "imported from <text>, line 1"]


def test_files_that_import_each_other_twice_stop_at_the_load_limit(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for i in range(30):
        (tmp_path / f"f{i}.vyr").write_text(f"@import f{i + 1}.vyr\n@import f{i + 1}.vyr\n")
    (tmp_path / "f30.vyr").write_text("leaf = 1\n")
    with pytest.raises(RuntimeError, match=r"Reason: More than 10000 files loaded by one call at 'f\d+\.vyr'"):
        VYRL.load("f0.vyr")


# The reading thread lets the interpreter go while it waits, so the writer
# (and, where there is no lock, a thread asking for collections) can run.
FIFO = """
    import gc, os, sys, threading
    from vyr_rs import VYRL

    os.mkfifo("pipe.vyr")
    stop = threading.Event()

    def writer():
        with open("pipe.vyr", "w") as pipe:
            pipe.write("a = 1\\nb = 2\\n")

    def collector():
        while not stop.is_set():
            gc.collect()

    threads = [threading.Thread(target=writer)]
    if sys.argv[1:] == ["collect"]:
        threads.append(threading.Thread(target=collector))
    for thread in threads:
        thread.start()
    document = VYRL.load("pipe.vyr")
    stop.set()
    for thread in threads:
        thread.join()
    document.merge_content("c = 3")
    print(sorted(document.to_dict().items()))
"""


@pytest.mark.parametrize("collect", [False, True], ids=["writer", "writer and collector"])
def test_a_fifo_written_by_another_thread_is_read(tmp_path, collect):
    if collect and not FREE_THREADED:
        pytest.skip("collections wait for a blocked thread only without the GIL")
    code = FIFO if not collect else FIFO.replace('sys.argv[1:] == ["collect"]', "True")
    result = run_isolated(code, tmp_path, timeout=30)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "[('a', '1'), ('b', '2'), ('c', '3')]"


# A signal that arrives while the file is being opened is no failure.
INTERRUPTED_OPEN = """
    import os, signal, threading, time
    from vyr_rs import VYRL

    os.mkfifo("pipe.vyr")
    signal.signal(signal.SIGALRM, lambda *_: None)
    signal.setitimer(signal.ITIMER_REAL, 0.1)

    def writer():
        time.sleep(0.5)  # the alarm goes off while the open waits for a writer
        with open("pipe.vyr", "w") as pipe:
            pipe.write("a = 1\\n")

    threading.Thread(target=writer).start()
    print(VYRL.load("pipe.vyr")["a"])
"""


def test_a_signal_during_open_does_not_fail_the_load(tmp_path):
    result = run_isolated(INTERRUPTED_OPEN, tmp_path, timeout=30)
    assert (result.returncode, result.stdout.strip()) == (0, "1"), result.stderr
