#!/usr/bin/python3
"""Compares the engine's raw cell values, merged areas and hidden rows and columns with
openpyxl's reading of the same xlsx workbooks, run by hand (Debian: python3-openpyxl).

    bench/peers/compare_raw_openpyxl.py [--dump build/bin/dump_cells] [-v] [FOLDER|BOOK ...]

Without arguments it reads the xlsx and xlsm workbooks of Samples, tests/fixtures/workbooks
and ../shared/fixtures/workbooks beside the repository, each content once. A cell counts when
either side gives it a value; it agrees when the engine's raw text is openpyxl's value
written the engine's way: numbers as the shortest decimal that reads back the same (plain
from 1e-5 to 1e15, else with E+XX), dates and times in ISO 8601 to the millisecond (a date
format's value compared by its day, a time format's by its time of day, a duration's as a
number of days), TRUE and FALSE, error codes, text as stored. Merged areas and hidden rows
and columns (within the engine's used range) agree when both sides name them. Prints each
share of agreement and, with -v, every difference."""

import argparse
import datetime
import decimal
import glob
import hashlib
import os
import pickle
import re
import resource
import subprocess
import sys
import warnings

import openpyxl

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def raw_number(value):
    value = float(value)
    if value == 0:
        return '0'
    sign, digits, exponent = decimal.Decimal(repr(value)).as_tuple()
    digits = ''.join(map(str, digits)).rstrip('0') or '0'
    exponent10 = exponent + len(''.join(map(str, decimal.Decimal(repr(value)).as_tuple()[1]))) - 1
    text = '-' if sign else ''
    if 1e-5 <= abs(value) < 1e15:
        plain = format(decimal.Decimal(repr(abs(value))), 'f')
        if '.' in plain:
            plain = plain.rstrip('0').rstrip('.')
        return text + plain
    mantissa = digits[0] + ('.' + digits[1:] if len(digits) > 1 else '')
    return text + mantissa + 'E%+03d' % exponent10


def unescape(text):
    return re.sub(r'\\(.)', lambda m: {'t': '\t', 'r': '\r', 'n': '\n', '\\': '\\'}[m.group(1)], text)


def engine_read(dump, path):
    result = subprocess.run([dump, '--raw', path], capture_output=True, text=True, errors='surrogateescape')
    if result.returncode != 0:
        return None
    sheets = {}
    current = None
    for line in result.stdout.split('\n'):
        if not line:
            continue
        fields = line.split('\t')
        if fields[0] == 'sheet':
            current = {'range': tuple(map(int, fields[2:6])), 'cells': {}, 'merges': set(), 'rows': set(),
                       'columns': set()}
            sheets[unescape(fields[1])] = current
        elif fields[0] == 'cell':
            current['cells'][(int(fields[1]), int(fields[2]))] = unescape('\t'.join(fields[3:]))
        elif fields[0] == 'merge':
            current['merges'].add(tuple(map(int, fields[1:5])))
        elif fields[0] == 'row':
            current['rows'].add(int(fields[1]))
        elif fields[0] == 'column':
            current['columns'].add(int(fields[1]))
    return sheets


def parse_iso(text):
    try:
        if re.fullmatch(r'\d{4}-\d\d-\d\d', text):
            return 'date', datetime.date.fromisoformat(text)
        if re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?', text):
            return 'datetime', datetime.datetime.fromisoformat(text)
        if re.fullmatch(r'\d\d:\d\d:\d\d(\.\d+)?', text):
            return 'time', datetime.time.fromisoformat(text)
    except ValueError:
        pass
    return None, None


def seconds_of_day(t):
    return t.hour * 3600 + t.minute * 60 + t.second + t.microsecond / 1e6


def agrees(ours, theirs):
    """Whether the engine's raw text ours stands for openpyxl's value theirs."""
    if theirs is None or theirs == '':
        return ours == ''
    if isinstance(theirs, bool):
        return ours == ('TRUE' if theirs else 'FALSE')
    if isinstance(theirs, (int, float)):
        return ours == raw_number(theirs)
    if isinstance(theirs, str):
        return ours == theirs
    kind, mine = parse_iso(ours)
    if isinstance(theirs, datetime.timedelta):
        try:
            return abs(float(ours) - theirs.total_seconds() / 86400) <= 1e-9 * max(1, abs(float(ours)))
        except ValueError:
            return False
    if isinstance(theirs, datetime.datetime):
        if kind == 'date':
            return mine == theirs.date()
        if kind == 'datetime':
            return abs((mine - theirs).total_seconds()) <= 0.001
        if kind == 'time':
            return abs(seconds_of_day(mine) - seconds_of_day(theirs.time())) <= 0.001
        return False
    if isinstance(theirs, datetime.date):
        return kind == 'date' and mine == theirs
    if isinstance(theirs, datetime.time):
        return kind == 'time' and abs(seconds_of_day(mine) - seconds_of_day(theirs)) <= 0.001
    return ours == str(theirs)


def openpyxl_read_apart(path):
    """openpyxl_read in a process of its own, within 2 GiB and 120 s: a workbook it
    cannot read is left out rather than ending the comparison."""
    result = subprocess.run([sys.executable, os.path.abspath(__file__), '--openpyxl-one', path],
                            capture_output=True, timeout=120)
    if result.returncode != 0:
        lines = result.stderr.decode(errors='replace').strip().split('\n')
        raise RuntimeError(lines[-1] if lines else 'failed')
    return pickle.loads(result.stdout)


def openpyxl_read(path):
    with warnings.catch_warnings():
        warnings.simplefilter('ignore')
        book = openpyxl.load_workbook(path, data_only=True)
    sheets = {}
    for sheet in book.worksheets:
        if not hasattr(sheet, 'iter_rows'):
            continue
        # The cells openpyxl holds, not the rectangle of its dimensions (which a crafted
        # file stretches to the grid's end).
        cells = {}
        for key, cell in sheet._cells.items():
            if cell.value is not None and cell.value != '':
                cells[key] = cell.value
        merges = {(r.min_row, r.min_col, r.max_row, r.max_col) for r in sheet.merged_cells.ranges}
        rows = {r for r, d in sheet.row_dimensions.items() if d.hidden}
        columns = set()
        for d in sheet.column_dimensions.values():
            if d.hidden and d.min and d.max:
                columns.update(range(d.min, min(d.max, 16384) + 1))
        sheets[sheet.title] = {'cells': cells, 'merges': merges, 'rows': rows, 'columns': columns}
    return sheets


class Tally:
    def __init__(self):
        self.agreed = 0
        self.total = 0

    def share(self):
        return 100.0 * self.agreed / self.total if self.total else 100.0

    def __str__(self):
        return '%d of %d (%.2f%%)' % (self.agreed, self.total, self.share())


def sets(tally, ours, theirs, label, differences):
    tally.agreed += len(ours & theirs)
    tally.total += len(ours | theirs)
    for item in sorted(ours ^ theirs):
        differences.append('%s %s only in %s' % (label, item, 'the engine' if item in ours else 'openpyxl'))


def books_in(arguments):
    if not arguments:
        arguments = [os.path.join(ROOT, 'Samples'), os.path.join(ROOT, 'tests', 'fixtures', 'workbooks'),
                     os.path.join(ROOT, '..', 'shared', 'fixtures', 'workbooks'),
                     '/work/shared/fixtures/workbooks']
    books, seen = [], set()
    for argument in arguments:
        found = [argument] if os.path.isfile(argument) else sorted(
            glob.glob(os.path.join(argument, '*.xlsx')) + glob.glob(os.path.join(argument, '*.xlsm')))
        for path in found:
            with open(path, 'rb') as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            if digest not in seen:
                seen.add(digest)
                books.append(path)
    return books


def main():
    if len(sys.argv) == 3 and sys.argv[1] == '--openpyxl-one':
        resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
        sys.stdout.buffer.write(pickle.dumps(openpyxl_read(sys.argv[2])))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--dump', default=os.path.join(ROOT, 'build', 'bin', 'dump_cells'))
    parser.add_argument('-v', '--verbose', action='store_true')
    parser.add_argument('paths', nargs='*')
    options = parser.parse_args()
    cells, merges, rows, columns = Tally(), Tally(), Tally(), Tally()
    skipped = []
    for path in books_in(options.paths):
        ours = engine_read(options.dump, path)
        try:
            theirs = openpyxl_read_apart(path)
        except (RuntimeError, subprocess.TimeoutExpired) as error:  # openpyxl refuses what it cannot read
            theirs = None
            reason = 'openpyxl: %s' % str(error)[:60]
        if ours is None or theirs is None:
            skipped.append('%s (%s)' % (os.path.basename(path), 'the engine fails' if ours is None else reason))
            continue
        differences = []
        for name, sheet in ours.items():
            other = theirs.get(name)
            if other is None:
                continue
            first_row, first_column, last_row, last_column = sheet['range']
            for key in sorted(set(sheet['cells']) | set(other['cells'])):
                cells.total += 1
                mine = sheet['cells'].get(key, '')
                if agrees(mine, other['cells'].get(key)):
                    cells.agreed += 1
                else:
                    differences.append('%s!R%dC%d engine %r, openpyxl %r' % (name, key[0], key[1], mine,
                                                                           other['cells'].get(key)))
            sets(merges, sheet['merges'], other['merges'], name + ' merge', differences)
            sets(rows, sheet['rows'], {r for r in other['rows'] if r <= last_row}, name + ' hidden row',
                 differences)
            sets(columns, sheet['columns'], {c for c in other['columns'] if c <= last_column},
                 name + ' hidden column', differences)
        if options.verbose and differences:
            print(os.path.basename(path))
            for line in differences[:40]:
                print('  ' + line)
            if len(differences) > 40:
                print('  ... and %d more' % (len(differences) - 40))
    print('raw cell values agreeing:  %s' % cells)
    print('merged areas agreeing:     %s' % merges)
    print('hidden rows agreeing:      %s' % rows)
    print('hidden columns agreeing:   %s' % columns)
    if skipped:
        print('left out (%d): %s' % (len(skipped), ', '.join(skipped)))
    return 0


if __name__ == '__main__':
    sys.exit(main())
