"""`vyrl gen python`: generated classes load what they describe and pass mypy --strict."""

import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import vyrl
from conftest import ROOT

TOOL = Path(os.environ.get("VYRL_CLI", ROOT / "build" / "src" / "cli" / "vyrl"))
pytestmark = pytest.mark.skipif(not TOOL.is_file(), reason="the vyrl tool is not built (set VYRL_CLI)")


def generate(tmp_path: Path, source: str, name: str = "generated") -> Path:
    done = subprocess.run([str(TOOL), "gen", "python", source], cwd=ROOT, capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    module = tmp_path / f"{name}.py"
    module.write_text(done.stdout, encoding="utf-8")
    return module


def import_file(path: Path):
    found = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(found)
    sys.modules[path.stem] = module  # dataclasses and get_type_hints look it up
    found.loader.exec_module(module)
    return module


def test_the_example_loads_into_its_generated_classes(tmp_path, monkeypatch):
    monkeypatch.chdir(ROOT)
    module = import_file(generate(tmp_path, "examples/courier-7.vyr", "courier_classes"))
    drone = vyrl.load("examples/courier-7.vyr", into=module.Drone)
    assert drone.telemetry == module.Endpoint(host="telemetry.fleet.example", port=4317, tls=True)
    assert (drone.max_speed, drone.log_buffer, drone.home) == (21.5, 65536, (52.5163, 13.3777, 34.0))
    assert drone.fallback_links[1].tls is True and drone.fallback_links[0].tls is None
    assert drone.service_interval == "P90D"
    assert vyrl.load("examples/courier-7.vyr", into=module.Identity).name == "courier-7"
    assert "examples/drone-base.vyr:6" in module.Drone.__doc__


def test_names_that_are_not_identifiers_keep_their_key(tmp_path):
    source = tmp_path / "odd.vyr"
    source.write_text(
        "@schema my-app { class: i32, log.level*: string, 2fa: bool, list: list<my-app> }\n"
        "class = 1\nlog.level = debug\n2fa = true\nlist = []\n"
    )
    module = import_file(generate(tmp_path, str(source), "odd_classes"))
    app = vyrl.load(source, into=module.my_app)
    assert (app.class_, app.log_level, app._2fa, app.list_) == (1, "debug", True, [])


def test_generated_code_passes_mypy_strict(tmp_path):
    mypy = pytest.importorskip("mypy.api")
    generate(tmp_path, "examples/courier-7.vyr", "courier_classes")
    odd = tmp_path / "odd.vyr"
    odd.write_text("@schema S { a-b*: list<list<math::vector2>>, when: time::hour, n: physics::bit }\n")
    generate(tmp_path, str(odd), "odd_classes")
    use = tmp_path / "use.py"
    use.write_text(
        "import vyrl\nfrom courier_classes import Drone\nfrom odd_classes import S\n"
        'drone = vyrl.load("examples/courier-7.vyr", into=Drone)\n'
        "speed: float = drone.max_speed\n"
        "tilt: float | None = drone.camera_tilt\n"
        "s = S(a_b=[[(1.0, 2.0)]], when=1.5, n=3)\n"
        "reveal_type(drone.telemetry.port)\n"
    )
    stdout, stderr, status = mypy.run(["--strict", "--no-incremental", "--cache-dir", str(tmp_path / ".mypy"),
                                       str(tmp_path / "courier_classes.py"), str(tmp_path / "odd_classes.py"), str(use)])
    assert (status, stdout.count("error:")) == (0, 0), stdout + stderr
    assert 'Revealed type is "int"' in stdout
