"""Shared helpers for the vyr_rs tests.

The module under test is whatever `import vyr_rs` finds first: scripts/test-python.sh
puts the freshly built one at the front of PYTHONPATH. Run by hand after that
script (with pytest from build/venv-<id>), a build for this interpreter is found here.
"""

import concurrent.futures
import gc
import importlib.machinery
import sys
import sysconfig
from pathlib import Path

import pytest

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
ROOT = Path(__file__).resolve().parents[2]


def _built_module_dirs() -> list[str]:
    """Build directories holding a module this interpreter can load: the shared
    build/ (for the default python3) and build/py-<id> (for the others)."""
    name = "vyr_rs" + importlib.machinery.EXTENSION_SUFFIXES[0]
    found = [*ROOT.glob(f"build/src/python/{name}"), *ROOT.glob(f"build/py-*/src/python/{name}")]
    return [str(path.parent) for path in found]


try:
    import vyr_rs  # noqa: F401
except ImportError:
    sys.path[:0] = _built_module_dirs()
    import vyr_rs  # noqa: F401

try:
    import vyrl  # noqa: F401
except ImportError:
    # The package as the build tree holds it: its Python files beside vyrl._native.
    name = "_native" + importlib.machinery.EXTENSION_SUFFIXES[0]
    found = [*ROOT.glob(f"build/src/python_vyrl/vyrl/{name}"), *ROOT.glob(f"build/py-*/src/python_vyrl/vyrl/{name}")]
    sys.path[:0] = [str(path.parent.parent) for path in found]
    import vyrl  # noqa: F401


class OwnerThread:
    """A second thread that runs calls on demand.

    Documents it creates are owned by it, so a test can both use them from the
    main thread (which must fail) and drop them where they belong.
    """

    def __init__(self) -> None:
        self._executor = concurrent.futures.ThreadPoolExecutor(max_workers=1)

    def run(self, function, *args, **kwargs):
        """Runs `function` there; returns its result or raises what it raised."""
        return self._executor.submit(function, *args, **kwargs).result()

    def close(self) -> None:
        self._executor.shutdown(wait=True)


@pytest.fixture
def owner_thread():
    thread = OwnerThread()
    yield thread
    # A caught exception and the test's frame hold each other, and with them the
    # test's documents; collected later, they could die on the worker and be
    # reported as dropped away from their owner. Collect them here instead.
    gc.collect()
    thread.close()


class UnraisableRecorder:
    """Records what reaches sys.unraisablehook as (exception type, message, object).

    The exception itself is not kept: its traceback would keep frames (and the
    documents they hold) alive past the test.
    """

    def __init__(self) -> None:
        self.reports: list[tuple[type, str, object]] = []

    def __call__(self, unraisable) -> None:
        self.reports.append((unraisable.exc_type, str(unraisable.exc_value), unraisable.object))


@pytest.fixture
def unraisable(monkeypatch):
    recorder = UnraisableRecorder()
    monkeypatch.setattr(sys, "unraisablehook", recorder)
    return recorder
