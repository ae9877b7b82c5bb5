"""The module's own behaviour: sources, errors, typed values, streaming, threads and stopping."""

from __future__ import annotations

import _thread
import datetime
import io
import threading
import time
import zipfile
from pathlib import Path
from typing import Any, List

import pytest

import vellumcast as vc
from vellumcast import _vellumcast
from conftest import FIXTURES, run_cli, write_large_xlsx

WORKBOOKS = FIXTURES / "workbooks"


# --- sources: a path, bytes, a file object ------------------------------------------------


@pytest.mark.parametrize(
    "opener",
    [
        pytest.param(lambda path: vc.open(path), id="str"),
        pytest.param(lambda path: vc.open(Path(path)), id="Path"),
        pytest.param(lambda path: vc.open(Path(path).read_bytes(), name=Path(path).name), id="bytes"),
        pytest.param(lambda path: vc.open(bytearray(Path(path).read_bytes())), id="bytearray"),
        pytest.param(lambda path: vc.open(io.BytesIO(Path(path).read_bytes())), id="BytesIO"),
        pytest.param(lambda path: vc.open(open(path, "rb")), id="file"),
    ],
)
@pytest.mark.parametrize("name", ["any_sheets.xlsx", "date.xls", "any_sheets.ods", "layout.fods"])
def test_every_source_reads_alike(opener, name: str):
    path = str(WORKBOOKS / name)
    with vc.open(path) as reference, opener(path) as workbook:
        assert workbook.sheet_names == reference.sheet_names
        assert [list(sheet.rows(values="raw")) for sheet in workbook] == [
            list(sheet.rows(values="raw")) for sheet in reference
        ]
        assert workbook.text(mode="sheet") == reference.text(mode="sheet")


def test_bytes_are_named_as_given_and_read_by_that_name():
    data = b"a\tb\n1\t2\n"
    # A .tsv name tells the reader its divider, as a file name does on the command line.
    with vc.open(data, name="numbers.tsv") as workbook:
        assert list(workbook[0].rows()) == [("a", "b"), ("1", "2")]
        assert workbook.name == "numbers.tsv"


def test_a_text_mode_file_is_refused():
    with open(WORKBOOKS / "any_sheets.xlsx", encoding="latin-1") as text_file:
        with pytest.raises(TypeError, match="binary"):
            vc.open(text_file)
    with pytest.raises(TypeError):
        vc.open(42)  # type: ignore[arg-type]


# --- errors: a class per engine error code, each naming the workbook ---------------------

BIFF2 = b"\x09\x00\x04\x00\x02\x00\x10\x00" + b"\x0a\x00\x00\x00"


@pytest.mark.parametrize(
    "source, error, also",
    [
        pytest.param(str(WORKBOOKS / "missing.xlsx"), vc.WorkbookNotFoundError, FileNotFoundError, id="missing"),
        pytest.param(str(WORKBOOKS), vc.NotAFileError, OSError, id="folder"),
        pytest.param(str(WORKBOOKS / "pass_protected.xlsx"), vc.PasswordProtectedError, None, id="password-xlsx"),
        pytest.param(str(WORKBOOKS / "pass_protected.ods"), vc.PasswordProtectedError, None, id="password-ods"),
        pytest.param(str(WORKBOOKS / "OOM_alloc3.xls"), vc.CorruptWorkbookError, None, id="corrupt"),
        pytest.param(str(WORKBOOKS / "issue252.xlsx"), vc.CorruptWorkbookError, None, id="zip-bomb-member"),
        pytest.param(BIFF2, vc.UnsupportedWorkbookError, None, id="biff2"),
    ],
)
def test_opening_fails_with_the_class_of_the_engine_error(source: Any, error: type, also: Any):
    with pytest.raises(error) as raised:
        vc.open(source)
    assert isinstance(raised.value, vc.VellumcastError)
    if also is not None:
        assert isinstance(raised.value, also)
    expected_path = source if isinstance(source, str) else "<bytes>"
    assert raised.value.path == expected_path
    assert expected_path in str(raised.value)


def test_not_a_workbook_and_the_command_lines_message():
    data = bytes(range(256)) * 4
    with pytest.raises(vc.NotAWorkbookError) as raised:
        vc.open(data, name="noise.bin")
    cli = run_cli("-o", "-", "-", stdin=data)
    assert cli.returncode == 1
    # The same reason the command line gives, naming the workbook.
    assert str(raised.value).split(": ", 1)[1] in cli.stderr.decode()


def test_a_worksheet_that_is_too_large_fails_as_such():
    with vc.open(WORKBOOKS / "issue_594_dos.ods") as workbook:
        with pytest.raises(vc.WorkbookTooLargeError, match="Sheet1"):
            list(workbook[0].rows())
        with pytest.raises(vc.WorkbookTooLargeError):
            workbook.text()


def test_missing_worksheets():
    with vc.open(WORKBOOKS / "any_sheets.xlsx") as workbook:
        with pytest.raises(vc.SheetNotFoundError) as raised:
            workbook["Nothing"]
        assert isinstance(raised.value, KeyError)
        assert raised.value.path == str(WORKBOOKS / "any_sheets.xlsx")
        assert "Nothing" in str(raised.value)
        with pytest.raises(IndexError):
            workbook[3]
        assert workbook[-1].name == "VeryHidden"
        assert workbook["hidden"].name == "Hidden"  # letter case, when only one name matches so
        assert "Visible" in workbook and "Other" not in workbook


def test_a_closed_workbook_refuses_reads():
    workbook = vc.open(WORKBOOKS / "any_sheets.xlsx")
    sheet = workbook[0]
    workbook.close()
    assert workbook.closed
    with pytest.raises(ValueError, match="closed"):
        list(sheet.rows())
    with pytest.raises(ValueError, match="closed"):
        workbook.text()


@pytest.mark.parametrize(
    "options",
    [{"values": "typed"}, {"dates": "us"}, {"mode": "cells"}, {"divider": ""}, {"quotes": "no"}],
)
def test_bad_options_are_refused(options: dict):
    with vc.open(WORKBOOKS / "any_sheets.xlsx") as workbook:
        with pytest.raises((ValueError, TypeError)):
            workbook.text(**options)


# --- typed values ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name, row, expected",
    [
        ("date.xlsx", 0, (datetime.date(2021, 1, 1), 15.0)),
        ("date_1904.xlsx", 0, (datetime.date(2021, 1, 1), 15.0)),
        ("date.xls", 0, (datetime.date(2021, 1, 1), 15.0)),
        ("date.ods", 0, (datetime.date(2021, 1, 1), 15.0)),
        ("errors.xlsx", 6, (vc.CellError("#N/A"),)),
    ],
)
def test_raw_values_are_typed_by_format_and_date_system(name: str, row: int, expected: tuple):
    with vc.open(WORKBOOKS / name) as workbook:
        rows = list(workbook[0].rows(values="raw"))
    assert rows[row] == expected


def test_whole_numbers_as_int_when_asked():
    with vc.open(WORKBOOKS / "any_sheets.xlsx") as workbook:
        first = next(iter(workbook[0].rows(values="raw", integers=True)))
        assert first == (1, 2) and all(type(value) is int for value in first)
        assert next(iter(workbook[0].rows(values="raw"))) == (1.0, 2.0)


def test_booleans_times_and_datetimes(tmp_path: Path):
    path = tmp_path / "kinds.fods"
    path.write_text(
        '<?xml version="1.0" encoding="UTF-8"?><office:document xmlns:office="urn:oasis:names:tc:opendocument:'
        'xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:'
        'names:tc:opendocument:xmlns:text:1.0" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">'
        "<office:body><office:spreadsheet><table:table table:name=\"K\"><table:table-row>"
        '<table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>'
        '<table:table-cell office:value-type="date" office:date-value="2024-02-29T13:45:30.25"><text:p>x</text:p></table:table-cell>'
        '<table:table-cell office:value-type="float" office:value="0.5"><text:p>50%</text:p></table:table-cell>'
        '<table:table-cell office:value-type="string"><text:p>TRUE</text:p></table:table-cell>'
        "</table:table-row></table:table></office:spreadsheet></office:body></office:document>"
    )
    with vc.open(path) as workbook:
        assert list(workbook[0].rows(values="raw")) == [
            (True, datetime.datetime(2024, 2, 29, 13, 45, 30, 250000), 0.5, "TRUE")
        ]
        assert list(workbook[0].rows()) == [("TRUE", "x", "50%", "TRUE")]


def test_cell_errors_are_values():
    error = vc.CellError("#DIV/0!")
    assert error == vc.CellError("#DIV/0!") and error != vc.CellError("#N/A")
    assert len({error, vc.CellError("#DIV/0!")}) == 1
    assert str(error) == "#DIV/0!" and repr(error) == "CellError('#DIV/0!')"
    with pytest.raises(AttributeError):
        error.code = "#N/A"  # type: ignore[misc]


# --- what a workbook lists and warns of --------------------------------------------------


def test_sheets_are_listed_as_the_command_line_lists_them():
    path = WORKBOOKS / "layout.xlsx"
    listing = run_cli("--list", str(path)).stdout.decode().splitlines()[1:]
    with vc.open(path) as workbook:
        for line, info, sheet in zip(listing, workbook.sheets, workbook):
            number, name, visibility, used, layout = line.split("\t")
            assert (info.name, info.visibility, info.used_range or "empty") == (name, visibility, used)
            assert info.kind == "worksheet"
            areas = len(sheet.merged_areas)
            assert layout.startswith(f"{sheet.hidden_rows} hidden row")
            assert f"{sheet.hidden_columns} hidden column" in layout and f"{areas} merged area" in layout


def test_warnings_gather_as_worksheets_are_read():
    with vc.open(WORKBOOKS / "issue_174.xlsx") as workbook:
        assert workbook.warnings == []
        list(workbook[0].rows())
        assert any("runs on past its last value" in warning for warning in workbook.warnings)


def test_read_gives_a_table_and_a_dataframe():
    pandas = pytest.importorskip("pandas")
    with vc.open(WORKBOOKS / "any_sheets.xlsx") as workbook:
        table = workbook[0].read(values="raw")
    assert table.columns == ["A", "B"] and table.row_numbers == [1, 2, 3, 4, 5] and len(table) == 5
    frame = table.to_pandas()
    assert list(frame.columns) == ["A", "B"] and list(frame.index) == [1, 2, 3, 4, 5]
    assert frame.loc[2, "B"] == 4.0
    headed = table.to_pandas(header=True)
    assert list(headed.columns) == ["1.0", "2.0"] and len(headed) == 4
    assert isinstance(frame, pandas.DataFrame)


# --- streaming: rows handed over while the worksheet loads -------------------------------


def streamed(threshold: int = 0):
    before = _vellumcast.load_beside_threshold()
    _vellumcast.set_load_beside_threshold(threshold)
    return before


def xlsx_with_rows(path: Path, rows: List[int], late: str = "") -> None:
    """A one-worksheet xlsx whose rows come in the order given, each of a number in A and B, then
    the late row's XML."""
    cells = "".join(f'<row r="{r}"><c r="A{r}"><v>{r}</v></c><c r="B{r}"><v>{-r}</v></c></row>' for r in rows)
    cells += late
    write_large_xlsx(path, 1)
    with zipfile.ZipFile(path) as source:
        parts = {name: source.read(name) for name in source.namelist()}
    parts["xl/worksheets/sheet1.xml"] = (
        '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
        f"{cells}</sheetData></worksheet>"
    ).encode()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, content in parts.items():
            archive.writestr(name, content)


def test_rows_out_of_order_after_those_read_go_on_from_the_loaded_worksheet(tmp_path: Path):
    path = tmp_path / "late.xlsx"
    xlsx_with_rows(path, list(range(1, 20001)) + [30000, 25000])
    before = streamed()
    try:
        with vc.open(path) as workbook:
            assert list(workbook[0].rows()) == list(workbook[0].rows(stream=False))
    finally:
        streamed(before)


def test_a_row_read_that_its_worksheet_changes_later_is_an_error(tmp_path: Path):
    path = tmp_path / "changed.xlsx"
    # Row 3 is read while loading; a cell of it comes at the end.
    xlsx_with_rows(path, list(range(1, 20001)), late='<row r="3"><c r="C3"><v>99</v></c></row>')
    before = streamed()
    try:
        with vc.open(path) as workbook:
            with pytest.raises(vc.VellumcastError, match="stream=False"):
                list(workbook[0].rows())
            assert len(list(workbook[0].rows(stream=False))) == 20000
    finally:
        streamed(before)


def test_rows_reaching_further_right_lengthen_the_rows_after_them():
    data = ("".join(f"{r},x\n" for r in range(30000)) + "last,y,z\n").encode()
    before = streamed()
    try:
        with vc.open(data, name="ragged.csv") as workbook:
            rows = workbook[0].rows()
            listed = list(rows)
            assert rows.columns == [1, 2, 3]
    finally:
        streamed(before)
    assert listed[0] == ("0", "x") and listed[-1] == ("last", "y", "z")
    with vc.open(data, name="ragged.csv") as workbook:
        assert list(workbook[0].rows())[0] == ("0", "x", "")  # loaded first: the whole range


def test_a_large_worksheet_streams_the_command_lines_cells(large_xlsx: Path):
    expected = run_cli("-o", "-", "-m", "sheet", "--no-quotes", "--lf", str(large_xlsx)).stdout
    with vc.open(large_xlsx) as workbook:
        rows = workbook["Data"].rows()
        text = "".join("\t".join(row) + "\n" for row in rows)
    assert text.encode() == expected
    assert rows.columns == [1, 2, 3, 4, 5, 6]


# --- threads and stopping ------------------------------------------------------------------


def test_a_workbook_shared_between_threads_reads_as_in_one(large_xlsx: Path):
    with vc.open(large_xlsx) as workbook:
        alone_rows = list(workbook[0].rows(values="raw"))
        alone_text = workbook.text(mode="sheet", csv=True)
        results: List[Any] = [None] * 6
        failures: List[BaseException] = []

        def work(slot: int) -> None:
            try:
                if slot % 2:
                    results[slot] = list(workbook[0].rows(values="raw"))
                else:
                    results[slot] = workbook.text(mode="sheet", csv=True)
            except BaseException as error:  # noqa: B902 - reported by the main thread
                failures.append(error)

        threads = [threading.Thread(target=work, args=(slot,)) for slot in range(len(results))]
        for thread in threads:
            thread.start()
        # An iterator left half-read on this thread holds its own engine workbook meanwhile.
        half = workbook[0].rows()
        next(half)
        for thread in threads:
            thread.join()
        half.close()
    assert failures == []
    assert all(result == (alone_rows if slot % 2 else alone_text) for slot, result in enumerate(results))


def test_closing_an_iterator_half_way_stops_its_read(large_xlsx: Path):
    before = streamed()
    try:
        with vc.open(large_xlsx) as workbook:
            rows = workbook[0].rows()
            assert next(rows)[0] == "1"
            rows.close()
            with pytest.raises(StopIteration):
                next(rows)
            # The workbook serves the next read as before.
            assert len(list(workbook[0].rows())) == 60000
    finally:
        streamed(before)


@pytest.mark.parametrize(
    "read",
    [
        pytest.param(lambda workbook: workbook.text(mode="row"), id="text"),
        pytest.param(lambda workbook: workbook[0].read(values="raw"), id="read"),
        pytest.param(lambda workbook: sum(1 for _ in workbook[0].rows()), id="rows"),
    ],
)
def test_ctrl_c_stops_a_long_read(large_xlsx: Path, read):
    with vc.open(large_xlsx) as workbook:
        started = time.monotonic()
        read(workbook)
        whole = time.monotonic() - started
        timer = threading.Timer(whole / 10, _thread.interrupt_main)
        started = time.monotonic()
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            read(workbook)
        stopped = time.monotonic() - started
        timer.join()
        # Stopped well before the end, and the workbook reads again after it.
        assert stopped < whole * 0.8
        assert workbook[0].name == "Data"
