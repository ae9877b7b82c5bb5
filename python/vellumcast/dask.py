"""Many workbooks over a Dask cluster: exported into a folder, or read into a dask DataFrame.

A task takes a chunk of workbooks rather than one (a workbook takes a fraction of a
millisecond, and one task per file would spend its time being scheduled). Workers read
the workbooks by their paths, so the paths must be absolute or on storage every worker
sees alike (a shared file system); relative paths are made absolute here, on the client.
The output folder must be one every worker writes into. Needs ``dask`` (and
``distributed`` for a cluster; Debian: python3-dask, python3-distributed), which the rest
of vellumcast does not.
"""

from __future__ import annotations

import os
import uuid
from collections import Counter
from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Sequence

from . import _vellumcast as _core
from ._errors import VellumcastError
from ._options import cell_options, text_options
from ._table import column_letters

__all__ = ["Outcome", "export_many", "read_many"]


class Outcome(NamedTuple):
    """What became of one workbook of :func:`export_many`."""

    path: str
    status: str  # "ok", or "failed" when the command line would have reported a failure
    message: str  # the command line's error lines for it, one per failure; "" when ok
    written: List[str]  # the files written for it, in order
    warnings: List[str]


def _absolute(paths: Iterable[Any]) -> List[str]:
    return [os.path.abspath(os.fsdecode(os.fspath(path))) for path in paths]


def chunks(paths: Sequence[str], size: int) -> List[List[int]]:
    """The workbooks' places in paths, in chunks of about size, in order. Workbooks of the same
    file name (letter case aside) share a chunk: a chunk is saved as one save, which names
    their texts apart ("Sales.txt", "Sales (2).txt") as the command line does, where two
    chunks would write over each other's files."""
    if size < 1:
        raise ValueError("chunk must be at least 1")
    stems: Dict[str, int] = {}
    groups: List[List[int]] = []
    for index, path in enumerate(paths):
        stem = os.path.splitext(os.path.basename(path))[0].casefold()
        if stem in stems:
            groups[stems[stem]].append(index)
        else:
            stems[stem] = len(groups)
            groups.append([index])
    result: List[List[int]] = []
    for group in groups:
        if not result or (result[-1] and len(result[-1]) + len(group) > size):
            result.append([])
        result[-1].extend(group)
    return result


def _export_chunk(
    paths: List[str], options: Dict[str, Any], folder: str, name: Optional[str], no_clobber: bool, inputs: List[str]
) -> List[dict]:
    return _core.export_files(paths, options, folder, name, options["bom"], no_clobber, inputs)


def _outcome(found: dict) -> Outcome:
    return Outcome(
        found["path"],
        "ok" if found["ok"] else "failed",
        "\n".join(found["messages"]),
        list(found["written"]),
        list(found["warnings"]),
    )


def export_many(
    paths: Iterable[Any],
    client: Any = None,
    chunk: int = 64,
    output: Any = ".",
    name: Optional[str] = None,
    no_clobber: bool = False,
    **options: Any,
) -> List[Outcome]:
    """Exports the workbooks into the folder output as ``vellumcast-cli -o OUTPUT`` does, a chunk
    of them per task on the client's cluster (in this process without one). Returns an
    :class:`Outcome` per workbook, in the order given.

    Options as :meth:`vellumcast.Workbook.text`, ``name``, the command line's ``--name``
    template, and ``no_clobber`` (``--no-clobber``: files already in the folder stay). A chunk whose worker dies is done again by another (Dask retries it); its files
    are replaced whole, so none is left half-written or written twice under two names.
    """
    chosen = text_options(**options)
    absolute = _absolute(paths)
    folder = os.path.abspath(os.fsdecode(os.fspath(output)))
    if not os.path.isdir(folder):
        raise VellumcastError(f"{folder}: the output folder does not exist", folder)
    groups = [[absolute[index] for index in group] for group in chunks(absolute, chunk)]
    if client is None:
        parts = [_export_chunk(group, chosen, folder, name, no_clobber, absolute) for group in groups]
    else:
        run = uuid.uuid4().hex
        futures = client.map(
            _export_chunk,
            groups,
            options=chosen,
            folder=folder,
            name=name,
            no_clobber=no_clobber,
            inputs=absolute,
            key=[f"vellumcast-export-{index}-{run}" for index in range(len(groups))],
        )
        parts = client.gather(futures)
    # Back in the order given: workbooks of one name were put in one chunk.
    outcomes: List[Optional[Outcome]] = [None] * len(absolute)
    for group, part in zip(chunks(absolute, chunk), parts):
        for index, item in zip(group, part):
            outcomes[index] = _outcome(item)
    return _without_clashes([outcome for outcome in outcomes if outcome is not None])


def _without_clashes(outcomes: List[Outcome]) -> List[Outcome]:
    """A file two chunks both wrote holds only the text of whichever came last: both workbooks
    are told so rather than left to look exported."""
    counts = Counter(path for outcome in outcomes for path in set(outcome.written))
    clashed = []
    for outcome in outcomes:
        shared = sorted(path for path in outcome.written if counts[path] > 1)
        if not shared:
            clashed.append(outcome)
            continue
        note = "; ".join(f"{path}: written for another workbook at the same time as well" for path in shared)
        message = "\n".join(part for part in (outcome.message, note) if part)
        clashed.append(outcome._replace(status="failed", message=message))
    return clashed


def _read_chunk(paths: List[str], options: Dict[str, Any], header: bool) -> Any:
    import pandas

    from . import open as open_workbook

    records: List[Dict[str, Any]] = []
    for path in paths:
        with open_workbook(path) as workbook:
            for sheet in workbook:
                rows = sheet.rows(numbered=True, **options)
                numbered = list(rows)
                columns = rows.columns
                names = [column_letters(column) for column in columns] if columns is not None else None
                if header and numbered:
                    first = numbered.pop(0)[1]
                    names = [str(value) if value not in (None, "") else (names[i] if names else str(i + 1)) for i, value in enumerate(first)]
                for number, row in numbered:
                    record: Dict[str, Any] = {"workbook": path, "sheet": sheet.name, "row": number}
                    for position, value in enumerate(row):
                        record[names[position] if names and position < len(names) else str(position + 1)] = value
                    records.append(record)
    # Objects throughout, so that a blank cell stays None beside numbers rather than NaN.
    return pandas.DataFrame(records, columns=_ordered(_columns_seen(records)), dtype=object)


def _columns_seen(records: List[Dict[str, Any]]) -> List[str]:
    seen: Dict[str, None] = {"workbook": None, "sheet": None, "row": None}
    for record in records:
        for key in record:
            seen.setdefault(key, None)
    return list(seen)


def _ordered(columns: Iterable[str]) -> List[str]:
    fixed = ["workbook", "sheet", "row"]
    cells = [column for column in columns if column not in fixed]
    # Column letters as the application orders them (Z before AA); positions by number.
    cells.sort(key=lambda column: (not column.isdigit(), len(column), int(column) if column.isdigit() else column))
    return fixed + cells


def _conform(frame: Any, columns: List[str]) -> Any:
    conformed = frame.reindex(columns=columns)
    conformed["row"] = conformed["row"].astype("int64")
    for column in columns[3:]:
        conformed[column] = conformed[column].astype(object)
    return conformed


def read_many(
    paths: Iterable[Any],
    client: Any = None,
    chunk: int = 64,
    header: bool = False,
    **options: Any,
) -> Any:
    """Every worksheet of the workbooks as one dask DataFrame, a partition per chunk of workbooks.

    Columns: ``workbook`` (its path), ``sheet``, ``row`` (its number in the worksheet) and one
    per column of the worksheets' cells, named by its letters (by position with
    ``skip_blank``), or from each worksheet's first row with ``header=True``. The chunks are
    read on the cluster once (the client's, else the current one, else here) to learn the
    columns; the DataFrame then lies on the cluster. Options as
    :meth:`vellumcast.Sheet.rows`, ``numbered`` aside.
    """
    import dask
    import dask.dataframe as dd
    import pandas

    options = dict(options)
    cell_options(**{key: value for key, value in options.items() if key not in ("integers", "stream")})
    absolute = _absolute(paths)
    groups = [[absolute[index] for index in group] for group in chunks(absolute, chunk)]
    if client is None:
        try:
            from distributed import default_client

            client = default_client()
        except (ImportError, ValueError):
            client = None
    parts = [dask.delayed(_read_chunk, pure=True)(group, options, header) for group in groups]
    if client is not None:
        sources: List[Any] = client.compute(parts)
        seen = client.gather(client.map(lambda frame: list(frame.columns), sources, pure=False))
    else:
        frames = dask.compute(*parts, scheduler="threads")
        sources = [dask.delayed(frame) for frame in frames]
        seen = [list(frame.columns) for frame in frames]
    columns = _ordered({column: None for found in seen for column in found})
    meta = pandas.DataFrame(
        {column: pandas.Series(dtype="int64" if column == "row" else object) for column in columns}
    )
    conformed = [dask.delayed(_conform, pure=True)(source, columns) for source in sources]
    return dd.from_delayed(conformed, meta=meta, verify_meta=False)
