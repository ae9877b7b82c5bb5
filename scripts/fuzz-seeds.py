#!/usr/bin/env python3
"""Writes a seed corpus for every fuzz target from the test fixtures and the samples.

Usage: scripts/fuzz-seeds.py OUT. Each target gets OUT/<target>/ holding inputs shaped as
that target reads them: whole workbooks, the parts inside them, the streams inside the
compound files, or number-format codes.
"""
import glob
import hashlib
import os
import struct
import sys
import zipfile

MAX_LEN = 262144
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def files(*patterns):
    for pattern in patterns:
        yield from sorted(glob.glob(os.path.join(ROOT, pattern)))


def workbooks(*extensions):
    for path in files("tests/fixtures/workbooks/*", "Samples/*", "tests/fixtures/regressions/*"):
        if path.lower().endswith(extensions):
            yield path


def compound_stream(data, names):
    """The bytes of the first named stream of a compound file, or None (regular sectors only)."""
    if len(data) < 512 or data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
        return None
    sector = 1 << struct.unpack_from("<H", data, 30)[0]
    if sector not in (512, 4096):
        return None
    fat_sectors = struct.unpack_from("<109I", data, 76)
    fat = []
    for s in fat_sectors[: struct.unpack_from("<I", data, 44)[0]]:
        start = (s + 1) * sector
        fat.extend(struct.unpack_from("<%dI" % (sector // 4), data, start) if start + sector <= len(data) else [])

    def chain(first, limit):
        out, s = bytearray(), first
        while s < len(fat) and len(out) < limit and s < 0xFFFFFFFA:
            out += data[(s + 1) * sector : (s + 2) * sector]
            s = fat[s]
        return bytes(out[:limit])

    directory = chain(struct.unpack_from("<I", data, 48)[0], 1 << 20)
    for at in range(0, len(directory) - 127, 128):
        length = struct.unpack_from("<H", directory, at + 64)[0]
        name = directory[at : at + max(length - 2, 0)].decode("utf-16-le", "replace")
        if name in names:
            start, size = struct.unpack_from("<II", directory, at + 116)
            return chain(start, size) if size >= 4096 else None
    return None


def number_format_codes():
    codes = set()
    for path in files("tests/fixtures/numfmt/*.tsv"):
        with open(path, encoding="utf-8") as table:
            lines = table.read().splitlines()
        if path.endswith("valid.tsv"):
            codes.update(line for line in lines if line)
        elif lines:
            codes.update(lines[0].split("\t")[1:])
    for path in workbooks(".xlsx", ".xlsm"):
        try:
            styles = zipfile.ZipFile(path).read("xl/styles.xml").decode("utf-8", "replace")
        except (KeyError, zipfile.BadZipFile, OSError):
            continue
        for piece in styles.split('formatCode="')[1:]:
            codes.add(piece.split('"', 1)[0].replace("&quot;", '"').replace("&amp;", "&"))
    return sorted(code.encode("utf-8") for code in codes)


def members(extensions, wanted):
    """The members of each ZIP workbook that wanted(name) accepts, one seed per member."""
    for path in workbooks(*extensions):
        try:
            archive = zipfile.ZipFile(path)
            for name in archive.namelist():
                if wanted(name):
                    yield archive.read(name)
        except (zipfile.BadZipFile, OSError, NotImplementedError, RuntimeError, KeyError):
            continue


def whole(*extensions):
    for path in workbooks(*extensions):
        with open(path, "rb") as workbook:
            yield workbook.read()


def formulas():
    """Formulas as the fuzz_formula target reads them: a byte naming the grammar, then the
    formula's text or tokens, from the fixtures' worksheets."""
    import html
    import re
    for body in members((".xlsx", ".xlsm"), lambda n: n.startswith("xl/worksheets/sheet")):
        for text in re.findall(rb"<f[^>]*>([^<]+)</f>", body)[:50]:
            yield b"\x00" + html.unescape(text.decode("utf-8", "replace")).encode("utf-8")
    for path in files("tests/fixtures/formulas/*.ods", "tests/fixtures/workbooks/*.ods"):
        try:
            content = zipfile.ZipFile(path).read("content.xml")
        except (zipfile.BadZipFile, KeyError, OSError):
            continue
        for text in re.findall(rb'table:formula="([^"]+)"', content)[:50]:
            yield b"\x01" + html.unescape(text.decode("utf-8", "replace")).encode("utf-8")
    for data in whole(".xls"):
        stream = compound_stream(data, ("Workbook", "Book")) or b""
        at = 0
        while at + 4 <= len(stream):
            kind, length = struct.unpack_from("<HH", stream, at)
            if kind == 0x0006 and length > 20:
                yield b"\x02" + stream[at + 24 : at + 4 + length]
            at += 4 + length


def with_other_encoding(documents):
    """Each document, and for one declared in UTF-8 a copy declared ISO-8859-1, which the
    readers take through Expat rather than their own scanner."""
    for document in documents:
        yield document
        end = document.find(b'?>')
        if document.startswith(b'<?xml') and end > 0 and b'UTF-16' not in document[:end].upper():
            declaration = document[:end].replace(b' encoding="UTF-8"', b'').replace(b" encoding='UTF-8'", b'')
            if b'encoding' not in declaration:
                yield declaration + b' encoding="ISO-8859-1"' + document[end:]


SEEDS = {
    "fuzz_formula": formulas,
    "fuzz_open_workbook": lambda: whole(""),
    "fuzz_ods_content": lambda: (b"\x03" + c for c in members((".ods",), lambda n: n == "content.xml")),
    "fuzz_number_format": number_format_codes,
    "fuzz_csv": lambda: whole(".csv", ".tsv", ".txt", ".tab"),
    "fuzz_spreadsheetml": lambda: with_other_encoding(whole(".xml")),
    "fuzz_cfb": lambda: whole(".xls"),
    "fuzz_biff": lambda: (s for s in (compound_stream(d, ("Workbook", "Book")) for d in whole(".xls")) if s),
    "fuzz_zip": lambda: whole(".xlsx", ".xlsm", ".ods"),
    "fuzz_xlsx_workbook": lambda: members((".xlsx", ".xlsm"), lambda n: n.endswith("workbook.xml")),
    "fuzz_xlsx_relationships": lambda: members((".xlsx", ".xlsm"), lambda n: n.endswith(".rels")),
    "fuzz_xlsx_styles": lambda: members((".xlsx", ".xlsm"), lambda n: n.endswith("styles.xml")),
    "fuzz_xlsx_shared_strings": lambda: members((".xlsx", ".xlsm"), lambda n: n.endswith("sharedStrings.xml")),
    "fuzz_xlsx_worksheet": lambda: members((".xlsx", ".xlsm"), lambda n: n.startswith("xl/worksheets/sheet")),
    # The first byte picks the size of the pieces the scanner is fed; small parts run fastest.
    "fuzz_xml_scanner": lambda: (
        bytes([7]) + m
        for m in members((".xlsx", ".xlsm", ".ods"), lambda n: n.endswith((".xml", ".rels")))
        if len(m) < 16384
    ),
}


def main():
    out = sys.argv[1]
    for target, seeds in SEEDS.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for seed in seeds():
            seed = seed[:MAX_LEN]
            with open(os.path.join(folder, hashlib.sha1(seed).hexdigest()), "wb") as f:
                f.write(seed)


if __name__ == "__main__":
    main()
