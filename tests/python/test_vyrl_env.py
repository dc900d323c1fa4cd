"""env_prefix: environment variables that replace keys, checked like lines of the file."""

import pytest

import vyrl

TEXT = "@schema S { retries: i32, ratio*: f64 }\nretries = 3\nlog.level = info\nname = a\n"

# (variables set, expected values of retries, log.level, name)
OVERRIDES = [
    ({}, (3, "info", "a")),
    ({"APP_RETRIES": "9"}, (9, "info", "a")),
    ({"APP_LOG_LEVEL": "debug", "APP_NAME": "  spaced # not a comment"}, (3, "debug", "  spaced # not a comment")),
    ({"APP_retries": "9", "OTHER_RETRIES": "9", "APP_RATIO": "2"}, (3, "info", "a")),  # names are exact
]


@pytest.mark.parametrize("variables, expected", OVERRIDES)
def test_a_variable_replaces_its_key(monkeypatch, variables, expected):
    for name, value in variables.items():
        monkeypatch.setenv(name, value)
    cfg = vyrl.loads(TEXT, env_prefix="APP_")
    assert (cfg["retries"], cfg["log.level"], cfg["name"]) == expected
    assert "ratio" not in cfg  # only keys the configuration has


def test_without_a_prefix_the_environment_is_not_read(monkeypatch):
    monkeypatch.setenv("RETRIES", "9")
    assert vyrl.loads(TEXT)["retries"] == 3
    assert vyrl.loads(TEXT, env_prefix="")["retries"] == 9


def test_an_override_is_located_at_its_variable(monkeypatch):
    monkeypatch.setenv("APP_RETRIES", "9")
    cfg = vyrl.loads(TEXT, source="app.vyr", env_prefix="APP_")
    assert cfg.where("retries") == vyrl.Location("$APP_RETRIES", None)
    assert cfg.where("name") == vyrl.Location("app.vyr", 4)
    assert cfg.raw("retries") == "9"


@pytest.mark.parametrize(
    "variables, kind, key, text",
    [
        ({"APP_RETRIES": "many"}, "SchemaValidationError", "retries", "Invalid value: Expected i32, got 'many'"),
        ({"APP_NAME": "two\nlines"}, None, "name", ""),
    ],
    ids=["schema", "newline"],
)
def test_a_bad_override_fails_with_the_schema_message_and_the_variable(monkeypatch, variables, kind, key, text):
    for name, value in variables.items():
        monkeypatch.setenv(name, value)
    with pytest.raises(vyrl.VyrlError) as info:
        vyrl.loads(TEXT, env_prefix="APP_")
    error = info.value
    assert error.key == key
    assert error.file == "$" + next(iter(variables))
    assert str(error).startswith(error.file + ": ")
    if kind:
        assert error.kind == kind
        assert text in error.message


def test_a_variable_that_two_keys_share_is_refused(monkeypatch):
    monkeypatch.setenv("APP_A_B", "1")
    with pytest.raises(vyrl.VyrlError) as info:
        vyrl.loads("a.b = 1\na-b = 2\nc = 3\n", env_prefix="APP_")
    assert "'a.b'" in info.value.message and "'a-b'" in info.value.message
    monkeypatch.delenv("APP_A_B")
    assert vyrl.loads("a.b = 1\na-b = 2\n", env_prefix="APP_")["a-b"] == "2"
