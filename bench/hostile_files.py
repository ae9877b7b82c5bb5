"""Writes the hostile workbooks bench/hostile.sh runs, into the folder given."""
import os
import sys
import zipfile

CONTENT_TYPES = ('<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                 '<Default Extension="xml" ContentType="application/xml"/>'
                 '<Override PartName="/xl/workbook.xml" ContentType="application/'
                 'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>')
ROOT_RELS = ('<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
             '<Relationship Id="r1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
             'officeDocument" Target="xl/workbook.xml"/></Relationships>')
REL = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships/'


def xlsx(path, sheet_targets, members):
    """sheet_targets: one target per sheet; members: part name -> bytes or a chunk generator."""
    sheets = ''.join(f'<sheet name="S{i + 1}" sheetId="{i + 1}" r:id="r{i + 1}"/>' for i in range(len(sheet_targets)))
    rels = ''.join(f'<Relationship Id="r{i + 1}" Type="{REL}worksheet" Target="{t}"/>'
                   for i, t in enumerate(sheet_targets))
    if 'xl/sharedStrings.xml' in members:
        rels += f'<Relationship Id="s1" Type="{REL}sharedStrings" Target="sharedStrings.xml"/>'
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr('[Content_Types].xml', CONTENT_TYPES)
        z.writestr('_rels/.rels', ROOT_RELS)
        z.writestr('xl/workbook.xml', '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   f'<sheets>{sheets}</sheets></workbook>')
        z.writestr('xl/_rels/workbook.xml.rels',
                   f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">{rels}'
                   '</Relationships>')
        for name, data in members.items():
            if isinstance(data, (bytes, str)):
                z.writestr(name, data)
            else:
                with z.open(name, 'w', force_zip64=True) as member:
                    for chunk in data:
                        member.write(chunk)


def sheet(cells):
    return ('<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
            + cells + '</sheetData></worksheet>')


def big_sheet(mib):
    """A worksheet of about mib MiB of rows of 100 cells that all hold one number."""
    yield b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
    row = b'<row>' + b'<c><v>1</v></c>' * 100 + b'</row>'
    block = row * (1 << 10)
    for _ in range(mib * (1 << 20) // len(block)):
        yield block
    yield b'</sheetData></worksheet>'


def main(folder):
    xlsx(os.path.join(folder, 'shared-member.xlsx'), ['worksheets/sheet1.xml'] * 40,
         {'xl/worksheets/sheet1.xml': big_sheet(256)})
    corners = sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>a</t></is></c></row>'
                    '<row r="1048576"><c r="XFD1048576" t="inlineStr"><is><t>z</t></is></c></row>')
    xlsx(os.path.join(folder, 'corners.xlsx'), ['worksheets/sheet1.xml'], {'xl/worksheets/sheet1.xml': corners})
    corner = sheet('<row r="1"><c r="A1"><v>1</v></c></row><row r="65536"><c r="XFD65536"><v>2</v></c></row>')
    xlsx(os.path.join(folder, 'corner65536.xlsx'), ['worksheets/sheet1.xml'], {'xl/worksheets/sheet1.xml': corner})

    def strings(mib):
        yield b'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>'
        for _ in range(mib):
            yield b'x' * (1 << 20)
        yield b'</t></si></sst>'
    one = sheet('<row r="1"><c r="A1" t="s"><v>0</v></c></row>')
    xlsx(os.path.join(folder, 'big-string.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': one, 'xl/sharedStrings.xml': strings(256)})
    uses = sheet(''.join(f'<row r="{r}"><c r="A{r}" t="s"><v>0</v></c></row>' for r in range(1, 2001)))
    xlsx(os.path.join(folder, 'reused-string.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': uses, 'xl/sharedStrings.xml': strings(16 - 1)})
    with open(os.path.join(folder, 'long-line.csv'), 'wb') as f:
        for _ in range(200):
            f.write(b'y' * (1 << 20))
        f.write(b'\n')
    # One line of 500 MiB in 16,000 fields of 32 KiB: within the field and column limits.
    with open(os.path.join(folder, 'long-fields.csv'), 'wb') as f:
        field = b'y' * ((1 << 15) - 1)
        f.write(b','.join([field] * 16000) + b'\n')
    # Millions of cells that all show the empty shared string, within the inflate budget.
    empty_row = b'<row>' + b'<c t="s"><v>0</v></c>' * 1000 + b'</row>'

    def empty_cells():
        yield b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
        for _ in range(12000):
            yield empty_row
        yield b'</sheetData></worksheet>'
    xlsx(os.path.join(folder, 'empty-cells.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': empty_cells(),
          'xl/sharedStrings.xml': '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                                  '<si><t></t></si></sst>'})
    ods(os.path.join(folder, 'repeats.ods'), repeated_rows(REPEAT_BUDGET, columns=1000, text='abc'))
    ods(os.path.join(folder, 'repeats-over.ods'), repeated_rows(REPEAT_BUDGET * 2, columns=1000, text='abc'))

    # Sixty million cells of four bytes each that record nothing but their place.
    def bare_cells():
        yield b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
        row = b'<row>' + b'<c/>' * 10000 + b'</row>'
        for _ in range(6000):
            yield row
        yield b'</sheetData></worksheet>'
    xlsx(os.path.join(folder, 'bare-cells.xlsx'), ['worksheets/sheet1.xml'], {'xl/worksheets/sheet1.xml': bare_cells()})

    # Fifty million empty shared strings, 32 bytes each in memory, in 370 kB.
    def empty_strings():
        yield b'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
        for _ in range(500):
            yield b'<si/>' * 100000
        yield b'</sst>'
    xlsx(os.path.join(folder, 'empty-strings.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': one, 'xl/sharedStrings.xml': empty_strings()})
    # Cells that ask for 65,535 spaces each in 20 bytes: 200,000 of them in 75 kB.
    spaces = ('<table:table-cell office:value-type="string"><text:p><text:s text:c="65535"/></text:p>'
              '</table:table-cell>')
    ods(os.path.join(folder, 'spaces.ods'),
        f'<office:document-content {ODS_NS}><office:body><office:spreadsheet><table:table table:name="R">'
        + ('<table:table-row>' + spaces * 100 + '</table:table-row>') * 2000
        + '</table:table></office:spreadsheet></office:body></office:document-content>')


# What the ods reader lets repetition add to a sheet of a small file: each copy of a
# cell beyond the first costs 16 bytes and its text. Keep in step with the reader.
REPEAT_BUDGET = 32 << 20
ODS_NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"')


def repeated_rows(budget, columns, text):
    """A table of one row of columns equal cells, repeated as often as the budget allows."""
    cost = 16 + len(text)
    rows = (budget - (columns - 1) * cost) // (columns * cost) + 1
    cell = (f'<table:table-cell table:number-columns-repeated="{columns}" office:value-type="string">'
            f'<text:p>{text}</text:p></table:table-cell>')
    return (f'<office:document-content {ODS_NS}><office:body><office:spreadsheet><table:table table:name="R">'
            f'<table:table-row table:number-rows-repeated="{rows}">{cell}</table:table-row>'
            '</table:table></office:spreadsheet></office:body></office:document-content>')


def ods(path, content):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet')
        z.writestr('content.xml', content)


if __name__ == '__main__':
    main(sys.argv[1])
