#!/usr/bin/env python3
"""Makes the sample workbooks in Samples/.

Sales.xlsx is written here as Office Open XML (ECMA-376) with several worksheets, a hidden
worksheet, dates, percentages, currency, fractions, blank cells, a formula and text with
commas and quotes. Sales.xls and Sales.ods are converted from it by LibreOffice headless
(Debian: libreoffice-calc-nogui), needed only when the samples are made again.
Contacts.csv is written directly. The files are committed; run this to remake them:

    python3 scripts/make-samples.py [output-folder]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
from xml.sax.saxutils import escape

# Fixed time stamps keep the archive the same from run to run.
FIXED = (2020, 1, 1, 0, 0, 0)

STYLES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts count="2"><numFmt numFmtId="164" formatCode="&quot;$&quot;#,##0.00"/><numFmt numFmtId="165" formatCode="# ??/??"/></numFmts>
<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="11"/><name val="Calibri"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="7">
<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>
<xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/>
<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="10" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="12" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
<xf numFmtId="165" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>
</cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>
</styleSheet>"""

HEADER, DATE, CURRENCY, PERCENT, FRACTION, FRACTION2 = 1, 2, 3, 4, 5, 6

# Each cell: None (blank), a text, or (number, style) / ("=formula", cached value, style).
SHEETS = [
    ("Sales", "visible", [
        [("Region", HEADER), ("Date", HEADER), ("Units", HEADER), ("Price", HEADER), ("Share", HEADER), ("Note", HEADER)],
        ["North", (43862, DATE), 120, (19.99, CURRENCY), (0.125, PERCENT), 'Said "great", ordered more'],
        ["South", (43891, DATE), 85, (1234.5, CURRENCY), (0.3333, PERCENT), None],
        ["East, coastal", (43922, DATE), None, (0.5, CURRENCY), (0.05, PERCENT), "Blank units, comma in region"],
        ["West", (44196, DATE), 240, (7, CURRENCY), (1, PERCENT), "Year end"],
        ["Total", None, ("=SUM(C2:C5)", 445, 0), None, None, None],
    ]),
    ("Recipes", "visible", [
        [("Ingredient", HEADER), ("Cups", HEADER), ("Exact", HEADER)],
        ["Flour", (2.5, FRACTION), (2.5, FRACTION2)],
        ["Sugar", (0.75, FRACTION), (0.75, FRACTION2)],
        ["Milk", (1.3333333, FRACTION), (1.3333333, FRACTION2)],
        ["Salt", (0.125, FRACTION), (0.0625, FRACTION2)],
    ]),
    ("Hidden Notes", "hidden", [
        ["This worksheet is hidden in the spreadsheet application, yet it is exported too."],
        ["Checked by", "Q. A. \"Quinn\""],
    ]),
    ("Blank", "visible", []),
]


def column_name(index):
    name = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(65 + rest) + name
    return name


def sheet_xml(rows, strings):
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
           '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>']
    for r, row in enumerate(rows, start=1):
        cells = []
        for c, value in enumerate(row):
            ref = f"{column_name(c)}{r}"
            style = 0
            if isinstance(value, tuple):
                if len(value) == 3:
                    formula, cached, style = value
                    cells.append(f'<c r="{ref}" s="{style}"><f>{escape(formula[1:])}</f><v>{cached}</v></c>')
                    continue
                value, style = value
            if value is None:
                continue
            if isinstance(value, str):
                if value not in strings:
                    strings.append(value)
                cells.append(f'<c r="{ref}" s="{style}" t="s"><v>{strings.index(value)}</v></c>')
            else:
                cells.append(f'<c r="{ref}" s="{style}"><v>{value}</v></c>')
        out.append(f'<row r="{r}">{"".join(cells)}</row>')
    out.append("</sheetData></worksheet>")
    return "".join(out)


def write_xlsx(path):
    strings = []
    sheets = [sheet_xml(rows, strings) for _, _, rows in SHEETS]
    content_types = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
                     '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">',
                     '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>',
                     '<Default Extension="xml" ContentType="application/xml"/>',
                     '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>',
                     '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>',
                     '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>']
    workbook = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
                '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>']
    rels = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">']
    for i, (name, state, _) in enumerate(SHEETS, start=1):
        content_types.append(f'<Override PartName="/xl/worksheets/sheet{i}.xml" '
                             'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>')
        hidden = ' state="hidden"' if state == "hidden" else ""
        workbook.append(f'<sheet name="{escape(name)}" sheetId="{i}"{hidden} r:id="rId{i}"/>')
        rels.append(f'<Relationship Id="rId{i}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet{i}.xml"/>')
    n = len(SHEETS)
    rels.append(f'<Relationship Id="rId{n + 1}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>')
    rels.append(f'<Relationship Id="rId{n + 2}" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>')
    content_types.append("</Types>")
    workbook.append("</sheets></workbook>")
    rels.append("</Relationships>")
    shared = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
              f'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="{len(strings)}" uniqueCount="{len(strings)}">']
    shared += [f"<si><t>{escape(s)}</t></si>" for s in strings]
    shared.append("</sst>")
    root_rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                 '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                 '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
                 '</Relationships>')
    parts = [("[Content_Types].xml", "".join(content_types)), ("_rels/.rels", root_rels),
             ("xl/workbook.xml", "".join(workbook)), ("xl/_rels/workbook.xml.rels", "".join(rels)),
             ("xl/styles.xml", STYLES), ("xl/sharedStrings.xml", "".join(shared))]
    parts += [(f"xl/worksheets/sheet{i}.xml", xml) for i, xml in enumerate(sheets, start=1)]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in parts:
            info = zipfile.ZipInfo(name, FIXED)
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text.encode("utf-8"))


CONTACTS = ('Name,City,Phone,Remark\r\n'
            '"Ada Lovelace",London,+44 20 7946 0000,"Wrote the first program, they say"\r\n'
            '"Grace ""Amazing"" Hopper",Arlington,,"Found a moth, taped it in the log"\r\n'
            '"Smith, John",Leeds,0113 496 0000,\r\n')


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "Samples")
    os.makedirs(out, exist_ok=True)
    xlsx = os.path.join(out, "Sales.xlsx")
    write_xlsx(xlsx)
    with open(os.path.join(out, "Contacts.csv"), "w", newline="", encoding="utf-8") as csv:
        csv.write(CONTACTS)
    office = shutil.which("soffice") or shutil.which("libreoffice")
    if not office:
        sys.exit("LibreOffice is needed to convert Sales.xlsx to xls and ods (apt-get install libreoffice-calc-nogui)")
    with tempfile.TemporaryDirectory() as profile:
        for target in ("xls:MS Excel 97", "ods"):
            subprocess.run([office, f"-env:UserInstallation=file://{profile}", "--headless", "--convert-to", target,
                            "--outdir", out, xlsx], check=True, stdout=subprocess.DEVNULL)
    print("samples in", out)


if __name__ == "__main__":
    main()
