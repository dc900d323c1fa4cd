"""The package as pip installs it, from the wheel and from the sdist, seen the way its users meet it.

scripts/test-package.sh builds both with `python -m build`, installs each into a
fresh virtual environment and names those in $VYRL_WHEEL_ENV and $VYRL_SDIST_ENV.
Everything here runs the environment's own interpreter from outside the checkout,
with no PYTHONPATH or MYPYPATH, so nothing in the source tree can stand in for
what was installed.
"""

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
# The one place the version is written.
VERSION = re.search(r"project\(vyrl\s+VERSION\s+([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)

PROBE = """
import importlib.metadata, json, sysconfig, vyr_rs
dist = importlib.metadata.distribution("vyr_rs")
print(json.dumps({
    "module": vyr_rs.__file__,
    "version": vyr_rs.__version__,
    "site": sysconfig.get_paths()["platlib"],
    "files": [str(path) for path in dist.files],
    "metadata": dist.metadata.json,
    "license_files": dist.metadata.get_all("License-File"),
    "license": dist.read_text("licenses/LICENSE"),
}))
"""


def clean_env(**extra):
    env = {key: value for key, value in os.environ.items() if key not in ("PYTHONPATH", "MYPYPATH", "PYTHONHOME")}
    return {**env, **extra}


@pytest.fixture(scope="module", params=["wheel", "sdist"])
def venv(request) -> Path:
    variable = f"VYRL_{request.param.upper()}_ENV"
    if not os.environ.get(variable):
        pytest.fail(f"${variable} names no environment: run scripts/test-package.sh")
    return Path(os.environ[variable]).absolute()


@pytest.fixture(scope="module")
def installed(venv, tmp_path_factory):
    done = subprocess.run(
        [str(venv / "bin" / "python"), "-c", PROBE],
        cwd=tmp_path_factory.mktemp("elsewhere"), env=clean_env(), capture_output=True, text=True, timeout=60,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_module_comes_from_site_packages_with_the_project_version(installed):
    assert Path(installed["module"]).parent == Path(installed["site"])
    assert installed["version"] == VERSION


def test_types_are_a_stub_only_package(installed):
    files = installed["files"]
    assert "vyr_rs-stubs/__init__.pyi" in files
    # A top-level py.typed or lone stub would claim for site-packages as a whole
    # or be ignored; neither may come back.
    assert not [name for name in files if name in ("py.typed", "vyr_rs.pyi")]
    stub = Path(installed["site"]) / "vyr_rs-stubs" / "__init__.pyi"
    assert stub.read_text(encoding="utf-8") == (ROOT / "src" / "python" / "vyr_rs.pyi").read_text(encoding="utf-8")


@pytest.mark.parametrize(
    "field, expected",
    [
        ("name", "vyr_rs"),
        ("version", VERSION),
        ("license_expression", "MIT"),
        ("author", "The VYRL developers"),
        ("requires_python", ">=3.11"),
        ("description_content_type", "text/markdown"),
        ("description", (ROOT / "README.md").read_text(encoding="utf-8")),
    ],
)
def test_metadata(installed, field, expected):
    assert installed["metadata"].get(field) == expected


def test_metadata_classifiers_and_license_text(installed):
    classifiers = installed["metadata"]["classifier"]
    assert {"Typing :: Typed", "Programming Language :: C++", "Programming Language :: Python :: 3"} <= set(classifiers)
    assert installed["license_files"] == ["LICENSE"]
    assert installed["license"] == (ROOT / "LICENSE").read_text(encoding="utf-8")


def test_tool_is_on_path_with_the_same_version(venv, tmp_path):
    found = shutil.which("vyrl", path=str(venv / "bin"))
    assert found == str(venv / "bin" / "vyrl")
    done = subprocess.run(
        ["vyrl", "--version"], cwd=tmp_path, env=clean_env(PATH=f"{venv / 'bin'}{os.pathsep}{os.environ['PATH']}"),
        capture_output=True, text=True, timeout=30,
    )
    assert (done.returncode, done.stdout) == (0, f"vyrl {VERSION}\n")


# What mypy --strict must reveal from the installed package alone: each
# expression, and its type as the stub declares it.
REVEALED = [
    ('cfg["port"]', "str"),
    ('cfg.find_list("ports")', "list[str] | None"),
    ('cfg.find_object("db")', "dict[str, str] | None"),
    ('cfg.find_obj("port")', "str | None"),
    ("cfg.keys()", "list[str]"),
    ('VYRL.load("a.vyr")', "vyr_rs.VYRL"),
    ("__version__", "str"),
]


def test_mypy_strict_finds_the_types(venv, tmp_path):
    lines = ["from vyr_rs import VYRL, __version__", 'cfg = VYRL.parse("port = 8080")']
    lines += [f"reveal_type({expression})" for expression, _ in REVEALED]
    (tmp_path / "snippet.py").write_text("\n".join(lines) + "\n", encoding="utf-8")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable", str(venv / "bin" / "python"), "snippet.py"],
        cwd=tmp_path, env=clean_env(), capture_output=True, text=True, timeout=300,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    revealed = re.findall(r'Revealed type is "(.*)"', done.stdout)
    assert revealed == [expected for _, expected in REVEALED], done.stdout


VYRL_PROBE = """
import json, sysconfig, vyrl
cfg = vyrl.loads("@schema S { port: i32 }\\nport = 8080\\n")
print(json.dumps({
    "package": vyrl.__file__,
    "native": vyrl._native.__file__,
    "site": sysconfig.get_paths()["platlib"],
    "version": vyrl.__version__,
    "port": cfg["port"],
}))
"""


def test_the_vyrl_package_comes_from_site_packages_with_its_native_part(venv, installed, tmp_path):
    done = subprocess.run(
        [str(venv / "bin" / "python"), "-c", VYRL_PROBE],
        cwd=tmp_path, env=clean_env(), capture_output=True, text=True, timeout=60,
    )
    assert done.returncode == 0, done.stderr
    found = json.loads(done.stdout)
    package = Path(found["site"]) / "vyrl"
    assert Path(found["package"]) == package / "__init__.py"
    assert Path(found["native"]).parent == package
    assert (found["version"], found["port"]) == (VERSION, 8080)
    files = installed["files"]
    assert {"vyrl/__init__.py", "vyrl/py.typed", "vyrl/_native.pyi"} <= set(files)


def test_mypy_strict_finds_the_vyrl_types(venv, tmp_path):
    lines = [
        "import dataclasses, vyrl",
        "@dataclasses.dataclass",
        "class S:",
        "    port: int",
        'cfg = vyrl.loads("port = 1")',
        'reveal_type(cfg["port"])',
        'reveal_type(vyrl.load("a.vyr", into=S))',
        'reveal_type(cfg.where("port").line)',
    ]
    (tmp_path / "snippet.py").write_text("\n".join(lines) + "\n", encoding="utf-8")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-executable", str(venv / "bin" / "python"), "snippet.py"],
        cwd=tmp_path, env=clean_env(), capture_output=True, text=True, timeout=300,
    )
    assert done.returncode == 0, done.stdout + done.stderr
    assert re.findall(r'Revealed type is "(.*)"', done.stdout) == ["object", "snippet.S", "int | None"]
