"""Where a nested failure is, as the notes of the RuntimeError tell it, for every row of the shared table."""

import sys

import pytest

from vyr_rs import VYRL

from conftest import ROOT

sys.path.insert(0, str(ROOT / "tests" / "data"))
from failure_chains import scenarios  # noqa: E402

SCENARIOS = scenarios()


@pytest.mark.parametrize("scenario", SCENARIOS, ids=[s.name for s in SCENARIOS])
@pytest.mark.parametrize("read", [VYRL.load, lambda path: VYRL().merge_file(path)], ids=["load", "merge_file"])
def test_notes_say_where_and_the_message_stays(tmp_path, monkeypatch, scenario, read):
    monkeypatch.chdir(tmp_path)
    scenario.write(tmp_path)
    with pytest.raises(RuntimeError) as raised:
        read(scenario.load)
    assert str(raised.value) == scenario.message
    assert raised.value.__notes__ == scenario.notes()


def test_a_text_is_named_as_such_and_a_type_hint_comes_last():
    with pytest.raises(RuntimeError) as raised:
        VYRL.parse("@schema S { n: integer }\nn = 1")
    assert raised.value.__notes__ == ["in <text>, line 2", "did you mean 'i32'?"]
    with pytest.raises(RuntimeError) as raised:
        VYRL().validate_value("physics::metr", "1")
    assert raised.value.__notes__ == ["did you mean 'physics::meter'?"]

