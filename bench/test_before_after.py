"""Checks the arithmetic of bench/before_after.py and the typed texts of
bench/compare.py, where a slip would print a plausible, wrong table.

    PYTHONPATH=build/src/python build/venv-<id>/bin/python -m pytest bench -q

The typed-text cases need a built vyr_rs on the path (compare.py imports it)
and are skipped without one.
"""

from __future__ import annotations

from typing import Any

import pytest

import before_after
from before_after import Metric


def benchmark(name: str, value: float, run_type: str = "iteration", **extra: Any) -> dict[str, Any]:
    return {"name": name, "run_name": name.split("_median")[0].split("_mean")[0], "run_type": run_type,
            "bytes_per_second": value, **extra}


@pytest.mark.parametrize("entries, expected", [
    ([benchmark("BM_ScaleUntyped/30", 1.0), benchmark("BM_ScaleUntyped/30", 3.0)],
     {"BM_ScaleUntyped/30": [1.0, 3.0]}),
    # The aggregates scale_bench adds are recomputed over every round, not kept.
    ([benchmark("BM_ScaleTyped/1000", 5.0), benchmark("BM_ScaleTyped/1000_median", 9.0, "aggregate",
                                                      aggregate_name="median")],
     {"BM_ScaleTyped/1000": [5.0]}),
    # A benchmark that failed has no figure worth a median.
    ([benchmark("BM_ScaleTyped/30", 0.0, error_occurred=True, error_message="refused")], {}),
    # Older JSON has no run_type: every entry is a run.
    ([{"name": "BM_ScaleUntyped/1000", "bytes_per_second": 7.0}], {"BM_ScaleUntyped/1000": [7.0]}),
])
def test_repetitions_of(entries: list[dict[str, Any]], expected: dict[str, list[float]]) -> None:
    assert before_after.repetitions_of({"benchmarks": entries}) == expected


@pytest.mark.parametrize("turn, first", [(0, "before"), (1, "after"), (2, "before"), (7, "after")])
def test_order_of_alternates(turn: int, first: str) -> None:
    order = before_after.order_of(turn)
    assert order[0] == first and sorted(order) == ["after", "before"]


@pytest.mark.parametrize("higher_is_better, before, after, expected", [
    (False, 100.0, 80.0, "better"),   # a time that fell
    (False, 100.0, 120.0, "worse"),
    (True, 100.0, 120.0, "better"),   # MB/s that rose
    (True, 100.0, 80.0, "worse"),
    (True, 100.0, 103.0, ""),         # within the noise
    (False, 100.0, None, ""),         # a side without the figure
    (True, 0.0, 5.0, ""),
])
def test_verdict(higher_is_better: bool, before: float, after: float | None, expected: str) -> None:
    assert before_after.verdict(Metric("g", "m", "ratio", higher_is_better, before, after)) == expected


@pytest.mark.parametrize("value, unit, expected", [
    (2_950.0, "ns", "2.95 µs"),
    (123_456_789.0, "ns", "123 ms"),
    (12_345.0, "ns", "12.3 µs"),
    (1.5e9, "ns", "1.50 s"),
    (3_000.0, "ns", "3.00 µs"),
    (812.0, "ns", "812 ns"),
    (48.26, "MB/s", "48.3"),
    (1.2345, "ratio", "1.23"),
    (None, "ratio", "-"),
])
def test_format_value(value: float | None, unit: str, expected: str) -> None:
    assert before_after.format_value(value, unit) == expected


def side(vyrl_ns: float, typed_ns: float, peer_luck: float) -> dict[str, dict[str, list[float]]]:
    """Three rounds of one side, the second one slowed down throughout; the
    peers' timings are `peer_luck` times what they are at best."""
    return {
        "small": {"VYRL.parse": [vyrl_ns, vyrl_ns * 2, vyrl_ns * 1.1],
                  "orjson.loads": [2_000.0 * peer_luck, 4_000.0, 2_000.0 * peer_luck]},
        "parse/1000": {"VYRL.parse": [vyrl_ns * 10] * 3, "orjson.loads": [20_000.0 * peer_luck] * 3,
                       "msgspec.json.decode": [vyrl_ns * 30] * 3},
        "typed_parse/30": {"VYRL.parse": [typed_ns * 1.5, typed_ns, typed_ns * 3], "text_bytes": [1491.0] * 3},
        "lookup/1000": {"doc[key]": [60.0, 60.0, 60.0], "dict[key]": [40.0 * peer_luck, 400.0, 40.0]},
        "to_dict/1000": {"doc.to_dict": [80.0, 160.0, 88.0], "orjson.loads": [100.0 * peer_luck, 200.0, 100.0 * peer_luck]},
        "memory/1000": {"kept": [2.5], "peak": [3.0]},
    }


@pytest.mark.parametrize("name, before, after", [
    # A time is its fastest round.
    ("VYRL.parse, 30 lines", 3_000.0, 1_500.0),
    # A peer's best round on either side (2000, though the after side's orjson
    # was never faster than 3000) over each side's best VYRL round.
    ("orjson ÷ VYRL, 30 lines", 2.0 / 3.0, 4.0 / 3.0),
    # msgspec at its best, 45 µs on the after side, against 30 µs and 15 µs.
    ("msgspec ÷ VYRL, 1k pairs", 1.5, 3.0),
    # Only orjson was measured on the small configuration here: no figure, not a zero.
    ("msgspec ÷ VYRL, 30 lines", None, None),
    # 1491 bytes in 30 µs and in 15 µs.
    ("VYRL.parse MB/s, 30 pairs", 49.7, 99.4),
    ("doc[key] ÷ dict[key], 1k keys", 1.5, 1.5),
    ("to_dict ÷ orjson.loads, 1k pairs", 0.8, 0.8),
    ("peak ÷ text size", 3.0, 3.0),
])
def test_python_metrics(name: str, before: float | None, after: float | None) -> None:
    found = {"before": side(3_000.0, 30_000.0, 1.0), "after": side(1_500.0, 15_000.0, 1.5)}
    metrics = {metric.name: metric for metric in before_after.python_metrics(found, [1000], [30], [1000], 1000)}
    assert metrics[name].before == pytest.approx(before)
    assert metrics[name].after == pytest.approx(after)


@pytest.mark.parametrize("group, name, before, after", [
    ("median", "untyped MB/s, 30 keys", 200.0, 400.0),
    ("best", "untyped MB/s, 30 keys", 300.0, 900.0),
    # A benchmark one side lacks (an earlier commit's own harness) has no figure there.
    ("median", "typed MB/s, 30 keys", 50.0, None),
    ("best", "typed MB/s, 30 keys", 50.0, None),
])
def test_scale_metrics(group: str, name: str, before: float, after: float | None) -> None:
    found = {"before": {"BM_ScaleUntyped/30": [1e8, 3e8, 2e8], "BM_ScaleTyped/30": [5e7]},
             "after": {"BM_ScaleUntyped/30": [4e8, 4e8, 1e8, 9e8]}}
    metrics = {(metric.group.split()[2], metric.name): metric for metric in before_after.scale_metrics(found, [30])}
    assert (metrics[group, name].before, metrics[group, name].after) == (before, after)


@pytest.fixture(scope="module")
def compare() -> Any:
    pytest.importorskip("vyr_rs")
    import compare
    return compare


# The same values bench/scale_bench.cpp writes, which prints them with
# std::to_string and "#%06X" of the product truncated to 32 bits.
@pytest.mark.parametrize("n, expected", [
    (0, "0"), (1, "1.25"), (2, "0.2"), (3, "#A66D13"), (4, "[4, 5, -6]"),
    (8, "#BBCD88"), (1_000_001, "1000001.25"), (999_999, "[999999, 1000000, -1000001]"),
])
def test_typed_value(compare: Any, n: int, expected: str) -> None:
    assert compare.typed_value(n) == expected


def test_typed_text_declares_before_it_assigns(compare: Any) -> None:
    assert compare.typed_text(102).splitlines()[:3] == ["@schema Section0 {", "  section0.key0: i32",
                                                        "  section0.key1: f64"]
    lines = compare.typed_text(102).splitlines()
    # Key 100 starts the second section and the types again from the first.
    assert lines[101:105] == ["}", "@schema Section1 {", "  section1.key0: i32", "  section1.key1: f64"]
    assert lines[-1] == "section1.key1 = 101.25"
    assert len(compare.VYRL.parse(compare.typed_text(102))) == 102


@pytest.mark.parametrize("count, expected", [(30, "30"), (1_000, "1k"), (10_000, "10k"), (1_000_000, "1M"),
                                             (1_500, "1500")])
def test_count_label(count: int, expected: str) -> None:
    assert before_after.count_label(count) == expected


def test_table_marks_groups_gaps_and_verdicts() -> None:
    metrics = [Metric("reading", "VYRL.parse, 1k pairs", "ns", False, 100_000.0, 80_000.0),
               Metric("reading", "orjson ÷ VYRL, 1k pairs", "ratio", True, None, 1.5),
               Metric("C++", "typed MB/s, 30 keys", "MB/s", True, 50.0, 51.0)]
    lines = before_after.table(metrics, "67bce8a", "HEAD").splitlines()
    assert lines[:2] == ["before: 67bce8a", "after:  HEAD"]
    body = lines[lines.index("reading"):]
    assert [line.split() for line in body] == [
        ["reading"],
        ["VYRL.parse,", "1k", "pairs", "100", "µs", "80.0", "µs", "0.800", "better"],
        ["orjson", "÷", "VYRL,", "1k", "pairs", "-", "1.50", "-"],
        ["C++"],
        ["typed", "MB/s,", "30", "keys", "50.0", "51.0", "1.020"],
    ]


@pytest.mark.parametrize("count, quick, expected", [
    (30, False, 1_000), (1_000, False, 30), (1_000, True, 3), (10_000, True, 1), (1_000_000, False, 1),
])
def test_calls_for(compare: Any, count: int, quick: bool, expected: int) -> None:
    assert compare.calls_for(count, quick) == expected


# A run from before the 30-line configuration had every reader (json.loads
# only, and no ratios) keeps to the sizes, so that old JSON still draws.
@pytest.mark.parametrize("small, labels", [
    ({"lines": 30, "us_per_call": {"VYRL.parse": 3.0, "json.loads": 6.0}, "ratio": 0.5}, ["1k pairs"]),
    ({"lines": 30, "ns": {"VYRL.parse": 3e3}, "relative_to_vyrl": {"VYRL.parse": 1.0}}, ["30 lines", "1k pairs"]),
])
def test_reading_columns(compare: Any, small: dict[str, Any], labels: list[str]) -> None:
    results = {"small_config": small, "parse": {"1000": {"ns": {}, "relative_to_vyrl": {}}}}
    assert [label for label, _ in compare.reading_columns(results)] == labels


# scale_bench's JSON as bench.sh writes it (one entry a name) and as a run with
# repetitions does (each repetition, then aggregates): the documented row is the
# entry itself, or the median.
@pytest.mark.parametrize("entries, row", [
    ([{"name": "BM_ScaleUntyped/30", "run_name": "BM_ScaleUntyped/30", "run_type": "iteration",
       "bytes_per_second": 2e8, "items_per_second": 8e6}], "| 30 | 200 | 8.00 M | – | – |"),
    ([{"name": "BM_ScaleTyped/1000", "run_name": "BM_ScaleTyped/1000", "run_type": "iteration",
       "bytes_per_second": 1e8, "items_per_second": 1e6},
      {"name": "BM_ScaleTyped/1000_mean", "run_name": "BM_ScaleTyped/1000", "run_type": "aggregate",
       "aggregate_name": "mean", "bytes_per_second": 7e7, "items_per_second": 1e6},
      {"name": "BM_ScaleTyped/1000_median", "run_name": "BM_ScaleTyped/1000", "run_type": "aggregate",
       "aggregate_name": "median", "bytes_per_second": 9e7, "items_per_second": 2e6}], "| 1k | – | – | 90 | 2.00 M |"),
])
def test_readme_scale_rows(compare: Any, entries: list[dict[str, Any]], row: str) -> None:
    import readme_table
    assert readme_table.scale({"benchmarks": entries})[2:] == [row]


def test_typed_json_holds_the_typed_texts_values(compare: Any) -> None:
    # The typed peers must decode the values VYRL checks, key for key.
    import json
    sections = json.loads(compare.typed_json_text(102))
    document = compare.VYRL.parse(compare.typed_text(102))
    assert sum(len(section) for section in sections.values()) == 102
    for n in range(102):
        section, key = compare.key_of(n).split(".")
        written = sections[section][key]
        assert document[compare.key_of(n)] == compare.typed_value(n)
        assert written == compare.typed_json_value(n)


def test_the_small_typed_configuration_has_thirty_lines_and_its_schema(compare: Any) -> None:
    texts = compare.small_typed_texts()
    assert texts["vyrl"].count("\n") == 30
    assert texts["vyrl"].startswith(compare.TYPED_CONFIG_SCHEMA + "\nhost = ")
    assert len(compare.VYRL.parse(texts["vyrl"])) == 29
