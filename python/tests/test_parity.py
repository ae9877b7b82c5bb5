"""rows() and text() against the command line, on every fixture workbook, with each option."""

from __future__ import annotations

import datetime
import math
from pathlib import Path
from typing import Any, Dict, List, Optional, Sequence

import pytest

import vellumcast as vc
from vellumcast import _vellumcast
from conftest import WORKBOOKS, cli_outputs, csv_rows

# The rows() options, each with the command line's arguments for the same cells.
ROW_OPTIONS = [
    pytest.param({}, [], id="displayed"),
    pytest.param({"values": "raw"}, ["--values", "raw"], id="raw"),
    pytest.param({"dates": "iso"}, ["--dates", "iso"], id="iso-dates"),
    pytest.param({"skip_blank": True}, ["--skip-blank"], id="skip-blank"),
    pytest.param({"skip_empty_lines": True}, ["--skip-empty-lines"], id="skip-empty-lines"),
    pytest.param({"fill_merged": True}, ["--fill-merged"], id="fill-merged"),
    pytest.param(
        {"skip_hidden_rows": True, "skip_hidden_columns": True},
        ["--skip-hidden-rows", "--skip-hidden-columns"],
        id="skip-hidden",
    ),
    pytest.param(
        {"values": "raw", "fill_merged": True, "skip_hidden_rows": True, "skip_blank": True},
        ["--values", "raw", "--fill-merged", "--skip-hidden-rows", "--skip-blank"],
        id="raw-layout-skip-blank",
    ),
]

# text() options against the command line's.
TEXT_OPTIONS = [
    pytest.param({}, [], id="all"),
    pytest.param({"mode": "sheet", "csv": True, "lf": True}, ["-m", "sheet", "--csv", "--lf"], id="sheet-csv"),
    pytest.param(
        {"mode": "row", "quotes": False, "divider": "comma-space", "skip_empty_lines": True},
        ["-m", "row", "--no-quotes", "-d", "comma-space", "--skip-empty-lines"],
        id="row",
    ),
    pytest.param(
        {"mode": "column", "values": "raw", "skip_blank": True, "divider": " | "},
        ["-m", "column", "--values", "raw", "--skip-blank", "-d", " | "],
        id="column-raw",
    ),
]


@pytest.fixture(params=["loaded", "streamed"])
def load_path(request: pytest.FixtureRequest):
    """Both ways rows reach a walk: from the loaded worksheet, and handed over while it loads."""
    before = _vellumcast.load_beside_threshold()
    _vellumcast.set_load_beside_threshold(before if request.param == "loaded" else 0)
    yield request.param
    _vellumcast.set_load_beside_threshold(before)


def workbook_rows(path: Path, options: Dict[str, Any]) -> List[Sequence[Any]]:
    """Every worksheet's rows one after another, as the command line's texts follow each other: a
    workbook or worksheet that fails gives none, as it gives no text."""
    rows: List[Sequence[Any]] = []
    try:
        workbook = vc.open(path)
    except vc.VellumcastError:
        return rows
    with workbook:
        for sheet in workbook:
            try:
                rows += list(sheet.rows(**options))
            except vc.VellumcastError:
                pass
    return rows


def raw_text_matches(value: Any, text: str) -> bool:
    """Whether a typed value is what the command line's raw text says."""
    if value is None:
        return text == ""
    if isinstance(value, bool):
        return text == ("TRUE" if value else "FALSE")
    if isinstance(value, vc.CellError):
        return text == value.code
    if isinstance(value, float):
        try:
            return float(text) == value or (math.isnan(value) and math.isnan(float(text)))
        except ValueError:
            return False
    if isinstance(value, datetime.datetime):
        return datetime.datetime.fromisoformat(text) == value
    if isinstance(value, datetime.date):
        return datetime.date.fromisoformat(text) == value
    if isinstance(value, datetime.time):
        return datetime.time.fromisoformat(text) == value
    return isinstance(value, str) and value == text


def stripped(row: Sequence[Any]) -> Sequence[Any]:
    end = len(row)
    while end > 0 and row[end - 1] in ("", None):
        end -= 1
    return row[:end]


def mismatch(rows: List[Sequence[Any]], expected: List[List[str]], typed: bool, ragged: bool) -> Optional[str]:
    """Where the rows first differ from the command line's cells; None when they agree. Ragged: rows
    read while their worksheet loads span the columns known by then, which the file may state wider
    or the later rows make wider, so only their cells up to the last that is not blank count."""
    if ragged:
        rows = [stripped(row) for row in rows]
        expected = [list(stripped(cells)) for cells in expected]
    for number, (row, cells) in enumerate(zip(rows, expected)):
        same = len(row) == len(cells) and all(
            raw_text_matches(value, text) if typed else value == text for value, text in zip(row, cells)
        )
        if not same:
            return f"line {number + 1}: {row!r} != {cells!r}"
    if len(rows) != len(expected):
        return f"{len(rows)} rows != {len(expected)} lines"
    return None


@pytest.mark.parametrize("options, arguments", ROW_OPTIONS)
def test_rows_are_the_command_lines_cells(tmp_root: Path, load_path: str, options: Dict[str, Any], arguments: List[str]):
    texts = cli_outputs(tmp_root, ["-m", "sheet", "--csv", "--lf", *arguments])
    blank_kept = not options.get("skip_blank", False)
    failures = {}
    for workbook in WORKBOOKS:
        found = mismatch(
            workbook_rows(workbook, options),
            csv_rows(texts[workbook], blank_kept),
            options.get("values") == "raw",
            load_path == "streamed",
        )
        if found:
            failures[workbook.name] = found
    assert failures == {}


@pytest.mark.parametrize("options, arguments", TEXT_OPTIONS)
def test_text_is_the_command_lines_output(tmp_root: Path, options: Dict[str, Any], arguments: List[str]):
    texts = cli_outputs(tmp_root, arguments)
    failures = {}
    for workbook in WORKBOOKS:
        try:
            with vc.open(workbook) as opened:
                text = opened.text(**options)
        except vc.VellumcastError as error:
            # The command line reports the same failure; what it wrote before it is not compared.
            if error.path != str(workbook):
                failures[workbook.name] = f"{error!r} names {error.path}"
            continue
        if text.encode("utf-8", "surrogateescape") != texts[workbook]:
            failures[workbook.name] = "differs"
    assert failures == {}


def test_a_sheets_text_is_the_command_lines_with_that_sheet():
    path = next(p for p in WORKBOOKS if p.name == "any_sheets.xlsx")
    from conftest import run_cli

    with vc.open(path) as workbook:
        for number, sheet in enumerate(workbook, start=1):
            for mode in ("all", "sheet", "row"):
                expected = run_cli("-o", "-", "-m", mode, "--sheet", str(number), str(path)).stdout
                assert sheet.text(mode=mode).encode() == expected, (sheet.name, mode)
