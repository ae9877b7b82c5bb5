#!/usr/bin/env python3
"""Compares the engine's displayed texts with LibreOffice's, cell by cell, per workbook.

    bench/peers/compare_heldout.py [--dump build/bin/dump_cells] [--regenerate] [FOLDER]

FOLDER (tests/fixtures/heldout/xml2003 by default; tests/fixtures/heldout/xlsb holds the
binary workbooks) holds the workbooks and, in its
libreoffice/ folder, LibreOffice's export of each worksheet as "STEM-SHEET.csv" (UTF-8,
cells as shown, en-US). --regenerate makes those again with soffice. LibreOffice shows some
cells otherwise than the spreadsheet application does; judged.tsv beside the workbooks
gives, for each such cell, the application's text and why. A cell counts when either side
gives it a text; it is exact when the engine gives the application's text (LibreOffice's,
or the judged one). Prints each workbook's share of exact cells, against the application
and against LibreOffice alone, and the cells that differ from the application."""

import argparse
import csv
import glob
import os
import subprocess
import sys
import tempfile

FILTER = 'csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,false,true,false,false,-1'


# What a held-out folder's workbooks are called: XML spreadsheets of 2003 and binary workbooks.
EXTENSIONS = ('.xml', '.xlsb')


def workbooks(folder):
    return sorted(p for p in glob.glob(os.path.join(folder, '*')) if p.lower().endswith(EXTENSIONS))


def regenerate(folder, expected):
    os.makedirs(expected, exist_ok=True)
    books = workbooks(folder)
    with tempfile.TemporaryDirectory() as profile:
        subprocess.run(['soffice', '-env:UserInstallation=file://' + profile, '--headless', '--convert-to', FILTER,
                        '--outdir', expected] + books, check=True, stdout=subprocess.DEVNULL)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == '\\' and i + 1 < len(text):
            out.append({'\\': '\\', 't': '\t', 'r': '\r', 'n': '\n'}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return ''.join(out)


def percent(part, whole):
    return f'{100.0 * part / whole if whole else 100.0:.1f} %'


def engine_cells(dump, book):
    """{sheet: {(row, column): text}} as the engine displays them, or an error text."""
    run = subprocess.run([dump, book], capture_output=True, text=True)
    if run.returncode != 0:
        return run.stderr.strip()
    sheets, current = {}, None
    for line in run.stdout.split('\n'):
        if not line:
            continue
        fields = line.split('\t')
        if fields[0] == 'sheet':
            current = sheets.setdefault(unescape(fields[1]), {})
        else:
            current[(int(fields[0]), int(fields[1]))] = unescape(fields[2])
    return sheets


def libreoffice_cells(path):
    cells = {}
    with open(path, newline='', encoding='utf-8') as f:
        for r, row in enumerate(csv.reader(f), 1):
            for c, text in enumerate(row, 1):
                if text:
                    cells[(r, c)] = text
    return cells


def judged_cells(folder):
    """{(workbook, sheet, row, column): the application's text} for the cells LibreOffice shows otherwise."""
    judged = {}
    path = os.path.join(folder, 'judged.tsv')
    if os.path.exists(path):
        with open(path, encoding='utf-8') as f:
            for line in f:
                if line.startswith('#') or not line.strip():
                    continue
                book, sheet, row, column, text, _why = line.rstrip('\n').split('\t')
                judged[(book, sheet, int(row), int(column))] = unescape(text)
    return judged


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder', nargs='?', default='tests/fixtures/heldout/xml2003')
    parser.add_argument('--dump', default='build/bin/dump_cells')
    parser.add_argument('--regenerate', action='store_true')
    parser.add_argument('--shown', type=int, default=20, help='differing cells shown per workbook')
    args = parser.parse_args()
    expected = os.path.join(args.folder, 'libreoffice')
    if args.regenerate:
        regenerate(args.folder, expected)
    judged = judged_cells(args.folder)
    total = total_exact = total_libreoffice = 0
    failed = []
    for book in workbooks(args.folder):
        stem = os.path.splitext(os.path.basename(book))[0]
        ours = engine_cells(args.dump, book)
        if isinstance(ours, str):
            failed.append(stem)
            print(f'{stem}: FAILED: {ours}')
            continue
        counted = exact = libreoffice = 0
        differences = []
        theirs_names = {os.path.basename(p)[len(stem) + 1:-4] for p in glob.glob(os.path.join(expected, stem + '-*.csv'))}
        for sheet in sorted(set(ours) | theirs_names):
            path = os.path.join(expected, f'{stem}-{sheet}.csv')
            theirs = libreoffice_cells(path) if os.path.exists(path) else {}
            mine = ours.get(sheet, {})
            application = dict(theirs)
            for (book, judged_sheet, r, c), text in judged.items():
                if book == stem and judged_sheet == sheet:
                    application[(r, c)] = text
            for key in sorted(set(mine) | set(application) | set(theirs)):
                counted += 1
                libreoffice += mine.get(key) == theirs.get(key)
                if mine.get(key) == application.get(key):
                    exact += 1
                else:
                    differences.append((sheet, key, mine.get(key), application.get(key)))
        total += counted
        total_exact += exact
        total_libreoffice += libreoffice
        print(f'{stem}: {exact}/{counted} cells exact ({percent(exact, counted)}), '
              f'{libreoffice} as LibreOffice shows them ({percent(libreoffice, counted)})')
        for sheet, (r, c), mine, theirs in differences[:args.shown]:
            print(f'    {sheet} R{r}C{c}: engine {mine!r}, application {theirs!r}')
    print(f'all: {total_exact}/{total} cells exact ({percent(total_exact, total)}), {total_libreoffice} as LibreOffice '
          f'shows them ({percent(total_libreoffice, total)}); {len(failed)} workbook(s) failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
