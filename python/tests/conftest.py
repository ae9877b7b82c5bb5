"""What the module's tests share: the command line to compare with, the fixture workbooks, a large workbook."""

from __future__ import annotations

import csv
import io
import os
import subprocess
import zipfile
from pathlib import Path
from typing import Dict, List, Sequence, Tuple

import pytest

ROOT = Path(__file__).resolve().parents[2]
CLI = os.environ.get("VELLUMCAST_CLI", str(ROOT / "build" / "bin" / "vellumcast-cli"))
FIXTURES = Path(os.environ.get("VELLUMCAST_FIXTURES", ROOT / "tests" / "fixtures"))
SAMPLES = Path(os.environ.get("VELLUMCAST_SAMPLES", ROOT / "Samples"))


def fixture_workbooks() -> List[Path]:
    """Every workbook the tests compare the module with the command line on."""
    found = [p for p in sorted((FIXTURES / "workbooks").iterdir()) if not p.name.startswith("LICENSE")]
    found += sorted((FIXTURES / "heldout" / "xlsb").glob("*.xlsb"))
    found += sorted((FIXTURES / "heldout" / "xml2003").glob("*.xml"))
    found += sorted(p for p in SAMPLES.iterdir() if p.is_file()) if SAMPLES.is_dir() else []
    return found


WORKBOOKS = fixture_workbooks()
BOUNDARY = "@@vellumcast-test-boundary@@"


def run_cli(*arguments: str, stdin: bytes = b"") -> subprocess.CompletedProcess:
    return subprocess.run([CLI, *arguments], input=stdin, capture_output=True, check=False)


_outputs: Dict[Tuple[str, ...], Dict[Path, bytes]] = {}


def cli_outputs(tmp_root: Path, arguments: Sequence[str]) -> Dict[Path, bytes]:
    """What `vellumcast-cli -o - ARGUMENTS` writes for each fixture workbook, from one run over all of
    them: a one-cell workbook after each, whose own text (run alone) marks where each one's texts end."""
    key = tuple(arguments)
    if key not in _outputs:
        boundary = tmp_root / "boundary.csv"
        boundary.write_text(BOUNDARY + "\n")
        mark = run_cli("-q", "-o", "-", *arguments, str(boundary)).stdout
        assert BOUNDARY.encode() in mark
        between: List[str] = []
        for workbook in WORKBOOKS:
            between += [str(workbook), str(boundary)]
        result = run_cli("-q", "-j", "2", "-o", "-", *arguments, *between)
        parts = result.stdout.split(mark)
        assert len(parts) == len(WORKBOOKS) + 1 and parts[-1] == b"", result.stderr.decode(errors="replace")
        _outputs[key] = dict(zip(WORKBOOKS, parts))
    return _outputs[key]


def csv_rows(text: bytes, blank_kept: bool) -> List[List[str]]:
    """The cells of the lines of `--csv --lf` text."""
    rows = []
    for row in csv.reader(io.StringIO(text.decode("utf-8", "surrogateescape"), newline="")):
        # An empty line is one empty cell, which only a row of one blank cell gives.
        rows.append(row if row or not blank_kept else [""])
    return rows


@pytest.fixture(scope="session")
def tmp_root(tmp_path_factory: pytest.TempPathFactory) -> Path:
    return tmp_path_factory.mktemp("vellumcast")


def write_large_xlsx(path: Path, rows: int) -> None:
    """A worksheet of `rows` rows by six columns: numbers, texts, a date, a percentage, booleans."""
    sheet = io.StringIO()
    sheet.write(
        '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/'
        'spreadsheetml/2006/main"><dimension ref="A1:F%d"/><sheetData>' % rows
    )
    for r in range(1, rows + 1):
        sheet.write(
            f'<row r="{r}"><c r="A{r}"><v>{r}</v></c><c r="B{r}" t="inlineStr"><is><t>item {r % 97}</t></is></c>'
            f'<c r="C{r}" s="1"><v>{40000 + r % 3000}</v></c><c r="D{r}" s="2"><v>{(r % 100) / 100}</v></c>'
            f'<c r="E{r}" t="b"><v>{r % 2}</v></c><c r="F{r}"><v>{r * 1.5}</v></c></row>'
        )
    sheet.write("</sheetData></worksheet>")
    parts = {
        "[Content_Types].xml": '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/'
        'package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
        'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/xl/'
        'workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.'
        'spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.'
        'openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>',
        "_rels/.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/'
        'package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/'
        '2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/'
        'spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
        '<sheets><sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.'
        'openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.'
        'org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" '
        'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
        "</Relationships>",
        "xl/styles.xml": '<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/'
        'spreadsheetml/2006/main"><cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="14" applyNumberFormat="1"/>'
        '<xf numFmtId="10" applyNumberFormat="1"/></cellXfs></styleSheet>',
        "xl/worksheets/sheet1.xml": sheet.getvalue(),
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
        for name, content in parts.items():
            archive.writestr(name, content)


@pytest.fixture(scope="session")
def large_xlsx(tmp_root: Path) -> Path:
    path = tmp_root / "large.xlsx"
    write_large_xlsx(path, 60000)
    return path
