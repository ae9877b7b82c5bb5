"""Writes the hostile workbooks bench/hostile.sh runs, into the folder given: all of them,
or with --floods only the small files that list, declare or repeat far more than a real
workbook does, and with --streams only the gigabyte streams for standard input."""
import os
import struct
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


def xlsx(path, sheet_targets, members, decoys=0, workbook=True):
    """sheet_targets: one target per sheet; members: part name -> bytes or a chunk generator;
    decoys: empty members written first, which every look-up of a part passes; without
    workbook, members give the workbook part and one relationship r1 names a worksheet."""
    sheets = ''.join(f'<sheet name="S{i + 1}" sheetId="{i + 1}" r:id="r{i + 1}"/>' for i in range(len(sheet_targets)))
    rels = ''.join(f'<Relationship Id="r{i + 1}" Type="{REL}worksheet" Target="{t}"/>'
                   for i, t in enumerate(sheet_targets))
    if 'xl/sharedStrings.xml' in members:
        rels += f'<Relationship Id="s1" Type="{REL}sharedStrings" Target="sharedStrings.xml"/>'
    if 'xl/styles.xml' in members:
        rels += f'<Relationship Id="s2" Type="{REL}styles" Target="styles.xml"/>'
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for i in range(decoys):
            z.writestr(f'decoy/{i}.bin', b'')
        z.writestr('[Content_Types].xml', CONTENT_TYPES)
        z.writestr('_rels/.rels', ROOT_RELS)
        if workbook:
            z.writestr('xl/workbook.xml', '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                       'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                       f'<sheets>{sheets}</sheets></workbook>')
        else:
            rels = f'<Relationship Id="r1" Type="{REL}worksheet" Target="worksheets/sheet1.xml"/>'
            members = {'xl/worksheets/sheet1.xml': sheet(''), **members}
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
    quadratic_corners(folder)
    unread_limits(folder)
    converted_text(folder)


def quadratic_corners(folder):
    """Files whose cost grew with the square of what they repeat."""
    one = sheet('<row r="1"><c r="A1"><v>1</v></c></row>')
    xlsx(os.path.join(folder, 'decoys.xlsx'), ['worksheets/sheet1.xml'] * 4000, {'xl/worksheets/sheet1.xml': one},
         decoys=30000)
    # 250 nested elements binding 60 prefixes each around two million cells of a prefix
    # bound near the top.
    bindings = ''.join(f'<x:e{d} ' + ' '.join(f'xmlns:p{d}_{i}="urn:d{d}"' for i in range(60)) + '>'
                       for d in range(250))
    closing = ''.join(f'</x:e{d}>' for d in reversed(range(250)))

    def nested():
        yield ('<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:x="urn:x">'
               '<sheetData><row r="1"><c r="A1"><v>1</v></c></row></sheetData>' + bindings).encode()
        for _ in range(200):
            yield b'<p1_0:z/>' * 10000
        yield (closing + '</worksheet>').encode()
    xlsx(os.path.join(folder, 'bindings.xlsx'), ['worksheets/sheet1.xml'], {'xl/worksheets/sheet1.xml': nested()})
    # 30,000 sheet entries pointing at one worksheet of 150,000 numbers.
    cells = b''.join(struct.pack('<HHHHHd', 0x0203, 14, i % 60000, i // 60000, 0, float(i)) for i in range(150000))
    with open(os.path.join(folder, 'shared-records.xls'), 'wb') as f:
        f.write(compound_file(biff_workbook(30000, cells)))
    # 365 worksheets of 100 rows, packaged and flat.
    tables = ''.join(f'<table:table table:name="D{t}">' + ''.join(
        f'<table:table-row><table:table-cell office:value-type="string"><text:p>{t}.{r}</text:p>'
        '</table:table-cell></table:table-row>' for r in range(100)) + '</table:table>' for t in range(365))
    ods(os.path.join(folder, 'year.ods'), f'<office:document-content {ODS_NS}><office:body><office:spreadsheet>'
        + tables + '</office:spreadsheet></office:body></office:document-content>')
    with open(os.path.join(folder, 'year.fods'), 'w') as f:
        f.write(f'<?xml version="1.0" encoding="UTF-8"?><office:document {ODS_NS}><office:body>'
                f'<office:spreadsheet>{tables}</office:spreadsheet></office:body></office:document>')


def unread_limits(folder):
    """Files whose limits held only after the work they bound."""
    with open(os.path.join(folder, 'sparse.xlsx'), 'wb') as f:
        f.write(b'PK\x03\x04')
        f.truncate(3 << 30)
    # A small package with a gigabyte between its members and its directory, and a small
    # xls workbook at the start of 4 GiB; both sparse, and a compound file signature
    # followed by 3 GiB of nothing.
    padded = os.path.join(folder, 'padded.xlsx')
    xlsx(padded, ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': sheet('<row r="1"><c r="A1"><v>1</v></c></row>')})
    pad_before_directory(padded, 1 << 30)
    with open(os.path.join(folder, 'sparse-small.xls'), 'wb') as f:
        # 400 numbers: a stream of 4 KiB or more, which lives in regular sectors.
        numbers = b''.join(struct.pack('<HHHHHd', 0x0203, 14, r, 0, 0, r + 0.5) for r in range(400))
        f.write(compound_file(biff_workbook(1, numbers)))
        f.truncate(4 << 30)
    with open(os.path.join(folder, 'sparse-signature.xls'), 'wb') as f:
        f.write(bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1]))
        f.truncate(3 << 30)
    # 120,000 formats, each used by one cell.
    count = 120000
    styles = ('<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
              f'<numFmts count="{count}">'
              + ''.join(f'<numFmt numFmtId="{164 + i}" formatCode="0.00&quot;{i}&quot;"/>' for i in range(count))
              + f'</numFmts><cellXfs count="{count}">'
              + ''.join(f'<xf numFmtId="{164 + i}"/>' for i in range(count)) + '</cellXfs></styleSheet>')
    cells = sheet(''.join(f'<row r="{r + 1}"><c r="A{r + 1}" s="{r}"><v>{r}</v></c></row>' for r in range(count)))
    xlsx(os.path.join(folder, 'formats.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': cells, 'xl/styles.xml': styles})
    percents = '%' * 200
    xlsx(os.path.join(folder, 'scaled-fraction.xlsx'), ['worksheets/sheet1.xml'],
         {'xl/worksheets/sheet1.xml': sheet('<row r="1"><c r="A1" s="1"><v>0</v></c><c r="B1" s="1"><v>1</v></c>'
                                            '</row>'),
          'xl/styles.xml': '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                           f'<numFmts count="1"><numFmt numFmtId="164" formatCode="# ?/?{percents}"/></numFmts>'
                           '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164"/></cellXfs></styleSheet>'})


def pad_before_directory(path, gap):
    """Moves the archive's central directory gap bytes further on, leaving a hole."""
    with open(path, 'rb') as f:
        data = f.read()
    end = data.rindex(b'PK\x05\x06')
    at = struct.unpack_from('<I', data, end + 16)[0]
    tail = bytearray(data[at:])
    struct.pack_into('<I', tail, end - at + 16, at + gap)
    with open(path, 'wb') as f:
        f.write(data[:at])
        f.seek(at + gap)
        f.write(tail)


def biff_record(kind, data):
    return struct.pack('<HH', kind, len(data)) + data


def biff_workbook(entries, records):
    """A BIFF8 workbook stream whose sheet list has entries entries, all pointing at one
    worksheet holding records."""
    bof = lambda kind: biff_record(0x0809, struct.pack('<HH', 0x0600, kind) + bytes(12))
    stream = bytearray(bof(0x0005))
    places = []
    for i in range(entries):
        name = f'S{i}'.encode()
        places.append(len(stream) + 4)
        stream += biff_record(0x0085, bytes(6) + bytes([len(name), 0]) + name)
    stream += biff_record(0x000A, b'')
    start = len(stream)
    for place in places:
        stream[place:place + 4] = struct.pack('<I', start)
    stream += bof(0x0010) + records + biff_record(0x000A, b'')
    return bytes(stream)


def compound_file(stream):
    """A version 4 compound file (4 KiB sectors) holding stream as "Workbook"; up to 109
    allocation sectors, so streams of up to about 400 MiB."""
    size = 4096
    data_sectors = (len(stream) + size - 1) // size
    fat_sectors = 1
    while fat_sectors * 1024 < data_sectors + 1 + fat_sectors:
        fat_sectors += 1
    assert fat_sectors <= 109
    directory = fat_sectors
    first_data = fat_sectors + 1
    fat = [0xFFFFFFFD] * fat_sectors + [0xFFFFFFFE]
    fat += [first_data + i + 1 for i in range(data_sectors - 1)] + [0xFFFFFFFE]
    fat += [0xFFFFFFFF] * (fat_sectors * 1024 - len(fat))
    header = bytearray(512)
    header[0:8] = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1])
    struct.pack_into('<HHHHH', header, 24, 0x3E, 4, 0xFFFE, 12, 6)
    struct.pack_into('<I', header, 44, fat_sectors)
    struct.pack_into('<I', header, 48, directory)
    struct.pack_into('<I', header, 56, 4096)
    struct.pack_into('<IIII', header, 60, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
    for i in range(109):
        struct.pack_into('<I', header, 76 + 4 * i, i if i < fat_sectors else 0xFFFFFFFF)

    def entry(name, kind, child, start, length):
        e = bytearray(128)
        encoded = name.encode('utf-16-le')
        e[0:len(encoded)] = encoded
        struct.pack_into('<HBB', e, 64, len(encoded) + 2, kind, 1)
        struct.pack_into('<III', e, 68, 0xFFFFFFFF, 0xFFFFFFFF, child)
        struct.pack_into('<IQ', e, 116, start, length)
        return bytes(e)
    directory_sector = (entry('Root Entry', 5, 1, 0xFFFFFFFE, 0) + entry('Workbook', 2, 0xFFFFFFFF, first_data,
                                                                         len(stream)))
    directory_sector += bytes(size - len(directory_sector))
    return (bytes(header) + bytes(size - 512) + struct.pack(f'<{len(fat)}I', *fat) + directory_sector
            + stream + bytes(data_sectors * size - len(stream)))


def converted_text(folder):
    """Text whose conversion to UTF-8 is larger than the file, and a field past every bound."""
    # 100 MB of Windows-1252 that becomes 300 MB of UTF-8 (each 0x80 is the euro sign).
    line = b'\x80' * 60 + b',' + b'\x80' * 38 + b'\n'
    with open(os.path.join(folder, 'ansi-100MB.csv'), 'wb') as f:
        for _ in range(100):
            f.write(line * 10000)
    # 200 MB of UTF-16 (the application's Unicode Text), tab-separated.
    line = 'North\t2/1/2020\t1,200\t\u00e9t\u00e9\t' + 'x' * 70 + '\r\n'
    chunk = (line * 10000).encode('utf-16-le')
    with open(os.path.join(folder, 'utf16-200MB.txt'), 'wb') as f:
        f.write(b'\xff\xfe')
        for _ in range(200 * 1000 * 1000 // len(chunk)):
            f.write(chunk)
    # One field of 2 GiB: refused once the bound on a cell's text is passed.
    with open(os.path.join(folder, 'field-2GiB.csv'), 'wb') as f:
        f.write(b'a,')
        block = b'y' * (1 << 20)
        for _ in range(2048):
            f.write(block)
        f.write(b'\n')


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


def xlsb_record(kind, data=b''):
    """A binary record: its type and size as numbers of seven bits a byte, then data."""
    def number(value):
        out = bytearray()
        while True:
            out.append((value & 0x7F) | (0x80 if value >> 7 else 0))
            value >>= 7
            if not value:
                return bytes(out)
    return number(kind) + number(len(data)) + data


def wide(text):
    encoded = text.encode('utf-16-le')
    return struct.pack('<I', len(encoded) // 2) + encoded


def xlsb(path, workbook, sheet, styles=None):
    """An xlsb package whose sheet list is workbook (records or a chunk generator) and whose
    every sheet's relationship r1 names one worksheet part, sheet; styles, when given,
    is its styles part."""
    rels = f'<Relationship Id="r1" Type="{REL}worksheet" Target="worksheets/sheet1.bin"/>'
    if styles is not None:
        rels += f'<Relationship Id="s1" Type="{REL}styles" Target="styles.bin"/>'
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr('[Content_Types].xml', CONTENT_TYPES.replace('/xl/workbook.xml', '/xl/workbook.bin').replace(
            'application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml',
            'application/vnd.ms-excel.sheet.binary.macroEnabled.main'))
        z.writestr('_rels/.rels', ROOT_RELS.replace('xl/workbook.xml', 'xl/workbook.bin'))
        z.writestr('xl/_rels/workbook.bin.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/'
                   f'2006/relationships">{rels}</Relationships>')
        for name, data in (('xl/workbook.bin', workbook), ('xl/worksheets/sheet1.bin', sheet),
                           ('xl/styles.bin', styles)):
            if data is None:
                continue
            with z.open(name, 'w', force_zip64=True) as member:
                for chunk in ([data] if isinstance(data, bytes) else data):
                    member.write(chunk)


def repeated(unit, times, block=1 << 20):
    """unit times over, in chunks of about block bytes."""
    per = max(1, block // len(unit))
    chunk = unit * per
    for _ in range(times // per):
        yield chunk
    yield unit * (times % per)


def spreadsheet_ml(worksheets, styles='', encoding='UTF-8'):
    return (f'<?xml version="1.0" encoding="{encoding}"?>\n<Workbook xmlns="urn:schemas-microsoft-com:office:'
            'spreadsheet" xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet"><Styles>' + styles + '</Styles>'
            + worksheets + '</Workbook>')


def floods(folder):
    """Small files that list, declare or repeat far more than any real workbook: each must
    end in a second or so, refused or exported, within its size and 64 MiB."""
    book = lambda entries: [xlsb_record(131), xlsb_record(143)] + list(entries) + [xlsb_record(144),
                                                                                  xlsb_record(132)]
    bundle = xlsb_record(156, struct.pack('<II', 0, 1) + wide('r1') + wide('S'))
    row = xlsb_record(0, struct.pack('<I', 0) + bytes(13))
    one_cell = (xlsb_record(129) + xlsb_record(145) + row + xlsb_record(2, struct.pack('<III', 0, 0, 0x3FF00000))
                + xlsb_record(146) + xlsb_record(130))
    # A million sheets of one empty part (67 kB), and a million <sheet> elements (112 kB).
    xlsb(os.path.join(folder, 'million-sheets.xlsb'), book(repeated(bundle, 1000000)), one_cell)
    xlsx(os.path.join(folder, 'million-sheets.xlsx'), [], {
        'xl/workbook.xml': [b'<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r='
                            b'"http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>']
        + list(repeated(b'<sheet name="S" sheetId="1" r:id="r1"/>', 1000000)) + [b'</sheets></workbook>']},
         workbook=False)
    # Forty million six-byte styles (351 kB) and fifty million <xf/> (366 kB).
    xf = xlsb_record(47, struct.pack('<HH', 0, 0))
    xlsb(os.path.join(folder, 'styles.xlsb'), book([bundle]), one_cell,
         [xlsb_record(278) + xlsb_record(617, struct.pack('<I', 0))] + list(repeated(xf, 40000000))
         + [xlsb_record(618) + xlsb_record(279)])
    xlsx(os.path.join(folder, 'styles.xlsx'), ['worksheets/sheet1.xml'], {
        'xl/worksheets/sheet1.xml': sheet('<row r="1"><c r="A1"><v>1</v></c></row>'),
        'xl/styles.xml': [b'<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><cellXfs>']
        + list(repeated(b'<xf/>', 50000000)) + [b'</cellXfs></styleSheet>']})
    # Ten million merges, and ten million records of one cell.
    merge = xlsb_record(176, struct.pack('<IIII', 0, 1, 0, 1))
    xlsb(os.path.join(folder, 'merges.xlsb'), book([bundle]),
         [one_cell[:-len(xlsb_record(130))], xlsb_record(177, struct.pack('<I', 0))] + list(repeated(merge, 10000000))
         + [xlsb_record(178) + xlsb_record(130)])
    cell = xlsb_record(2, struct.pack('<III', 0, 0, 0x3FF00000))
    xlsb(os.path.join(folder, 'repeated-cell.xlsb'), book([bundle]),
         [xlsb_record(129) + xlsb_record(145) + row] + list(repeated(cell, 10000000))
         + [xlsb_record(146) + xlsb_record(130)])
    # One record of 16 MiB, and the largest allowed (4 MiB) of text of three UTF-8 bytes a
    # character.
    for name, size in (('record-16MiB.xlsb', 16 << 20), ('record-4MiB.xlsb', 4 << 20)):
        units = (size - 12) // 2
        xlsb(os.path.join(folder, name), book([bundle]),
             [xlsb_record(129) + xlsb_record(145) + row,
              xlsb_record(6, struct.pack('<III', 0, 0, units) + '\u20ac'.encode('utf-16-le') * units),
              xlsb_record(146) + xlsb_record(130)])
    # XML spreadsheets: 40,000 one-cell worksheets, in UTF-8 and through Expat; a chain of
    # 200,000 parent styles; row and column spans adding up to 2^32.
    sheets = ''.join(f'<Worksheet ss:Name="S{i}"><Table><Row><Cell><Data ss:Type="Number">{i}</Data></Cell></Row>'
                     '</Table></Worksheet>' for i in range(40000))
    with open(os.path.join(folder, 'sheets-40000.xml'), 'w', encoding='utf-8') as f:
        f.write(spreadsheet_ml(sheets))
    with open(os.path.join(folder, 'sheets-40000-latin1.xml'), 'w', encoding='latin-1') as f:
        f.write(spreadsheet_ml(sheets, encoding='ISO-8859-1'))
    chain = '<Style ss:ID="s0"><NumberFormat ss:Format="0.00"/></Style>' + ''.join(
        f'<Style ss:ID="s{i}" ss:Parent="s{i - 1}"/>' for i in range(1, 200000))
    with open(os.path.join(folder, 'parent-chain.xml'), 'w') as f:
        f.write(spreadsheet_ml('<Worksheet ss:Name="S"><Table><Row><Cell ss:StyleID="s199999"><Data ss:Type='
                               '"Number">1</Data></Cell></Row></Table></Worksheet>', chain))
    data = lambda text: f'<Cell><Data ss:Type="String">{text}</Data></Cell>'
    with open(os.path.join(folder, 'row-spans.xml'), 'w') as f:
        f.write(spreadsheet_ml(f'<Worksheet ss:Name="S"><Table><Row>{data("before")}</Row>'
                               + '<Row ss:Span="1048575"/>' * 4096 + f'<Row>{data("after")}</Row></Table></Worksheet>'))
    with open(os.path.join(folder, 'column-spans.xml'), 'w') as f:
        f.write(spreadsheet_ml('<Worksheet ss:Name="S"><Table>' + '<Column ss:Span="16383"/>' * 262144
                               + f'<Column ss:Hidden="1"/><Row>{data("a")}{data("b")}</Row></Table></Worksheet>'))


def streams(folder):
    """Sparse files piped to standard input: a package of 1.05 GiB, most of it a hole before
    its directory, and 2 GiB and a byte, one past what a stream may hold."""
    padded = os.path.join(folder, 'stream-1.05GiB.xlsx')
    xlsx(padded, ['worksheets/sheet1.xml'], {'xl/worksheets/sheet1.xml': sheet('<row r="1"><c r="A1"><v>1</v></c></row>')})
    pad_before_directory(padded, (1 << 30) + (50 << 20))
    with open(os.path.join(folder, 'stream-2GiB-and-1.xlsx'), 'wb') as f:
        f.write(b'PK\x03\x04')
        f.truncate((2 << 30) + 1)


if __name__ == '__main__':
    if len(sys.argv) > 2 and sys.argv[2] == '--floods':
        floods(sys.argv[1])
    elif len(sys.argv) > 2 and sys.argv[2] == '--streams':
        streams(sys.argv[1])
    else:
        main(sys.argv[1])
        floods(sys.argv[1])
        streams(sys.argv[1])
