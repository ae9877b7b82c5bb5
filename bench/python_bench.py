#!/usr/bin/env python3
"""Reading one workbook's rows from Python: vellumcast (as displayed and raw) against openpyxl
read-only and pandas.read_excel, each in a fresh process, timed with its peak memory, and
the ratios to vellumcast's displayed rows from this one run.

Usage: bench/python_bench.py WORKBOOK.xlsx [REPEAT]
The vellumcast package must be importable (PYTHONPATH=build/python); the others are
Debian's python3-openpyxl and python3-pandas, left out with a note when missing.
"""

from __future__ import annotations

import os
import subprocess
import sys
import time
from typing import Dict, List, Optional, Tuple

CASES: Dict[str, str] = {
    "vellumcast rows() displayed": """
import vellumcast as vc
with vc.open(PATH) as wb:
    cells = sum(len(row) for row in wb[0].rows())
""",
    "vellumcast rows() raw": """
import vellumcast as vc
with vc.open(PATH) as wb:
    cells = sum(len(row) for row in wb[0].rows(values="raw"))
""",
    "vellumcast read().to_pandas()": """
import vellumcast as vc
with vc.open(PATH) as wb:
    cells = wb[0].read(values="raw").to_pandas().size
""",
    "openpyxl read-only values": """
import openpyxl
wb = openpyxl.load_workbook(PATH, read_only=True, data_only=True)
cells = sum(len(row) for row in wb.worksheets[0].iter_rows(values_only=True))
wb.close()
""",
    "pandas.read_excel (openpyxl)": """
import pandas
cells = pandas.read_excel(PATH, sheet_name=0, header=None, engine="openpyxl").size
""",
}


def run(code: str, path: str) -> Optional[Tuple[float, int, str]]:
    """Seconds, peak KiB and what the run said, or None when it failed (a module missing)."""
    program = f"PATH = {path!r}\n{code}\nprint(cells)\n"
    started = time.monotonic()
    process = subprocess.Popen([sys.executable, "-c", program], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - started
    out = process.stdout.read().decode().strip() if process.stdout else ""
    err = process.stderr.read().decode().strip() if process.stderr else ""
    if status != 0:
        return None if "ModuleNotFoundError" in err else (seconds, usage.ru_maxrss, "failed: " + err[-200:])
    return seconds, usage.ru_maxrss, out


def median(runs: List[Tuple[float, int, str]]) -> Tuple[float, int, str]:
    return sorted(runs)[len(runs) // 2]


def main() -> int:
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    path = sys.argv[1]
    repeat = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print(f"== {os.path.basename(path)}: {os.path.getsize(path) / 1048576:.1f} MiB, median of {repeat}")
    results: Dict[str, Tuple[float, int, str]] = {}
    for name, code in CASES.items():
        runs = [run(code, path) for _ in range(repeat)]
        if any(found is None for found in runs):
            print(f"  {name:32s} not installed: left out")
            continue
        results[name] = median([found for found in runs if found is not None])
    base_seconds, base_kib, _ = results["vellumcast rows() displayed"]
    for name, (seconds, kib, said) in results.items():
        print(
            f"  {name:32s} {seconds:7.2f} s {kib / 1024:8.0f} MiB   x time {seconds / base_seconds:6.2f}"
            f"   x memory {kib / base_kib:6.2f}   cells {said}"
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
