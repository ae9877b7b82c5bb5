"""Spreadsheet workbooks read as their application displays them, by Vellumcast's own engine.

>>> import vellumcast as vc
>>> with vc.open("report.xlsx") as wb:
...     for row in wb["Sales"].rows():
...         print(row)

Every format the command line reads is read, recognised by content: xlsx and its kin,
xlsb, xls, ods and fods, XML spreadsheets of 2003 and delimited text. Cells come as the
application shows them (``str``), or raw and typed (``values="raw"``). ``text()`` gives
exactly the bytes ``vellumcast-cli -o -`` writes, decoded. The engine works without the
GIL; Ctrl-C stops a long read; a workbook may be shared between threads.
"""

from __future__ import annotations

import os
from typing import Any, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _vellumcast as _core
from ._errors import (
    CorruptWorkbookError,
    NotAFileError,
    NotAWorkbookError,
    PasswordProtectedError,
    SheetNotFoundError,
    UnsupportedWorkbookError,
    VellumcastError,
    WorkbookNotFoundError,
    WorkbookTooLargeError,
)
from ._options import cell_options, text_options
from ._table import Table, column_letters
from ._values import CellError

__all__ = [
    "open",
    "Workbook",
    "Sheet",
    "SheetInfo",
    "Table",
    "Text",
    "CellError",
    "VellumcastError",
    "WorkbookNotFoundError",
    "NotAFileError",
    "NotAWorkbookError",
    "CorruptWorkbookError",
    "PasswordProtectedError",
    "WorkbookTooLargeError",
    "UnsupportedWorkbookError",
    "SheetNotFoundError",
]

RowIterator = _core.RowIterator


class SheetInfo(NamedTuple):
    """A worksheet as ``vellumcast-cli --list`` lists it."""

    name: str
    visibility: str  # "visible", "hidden" or "very hidden"
    used_range: Optional[str]  # "A1:F120"; None for a worksheet without content
    kind: str  # "worksheet": chart, dialog and macro sheets are not listed


class Text(NamedTuple):
    """One text of an export, as the command line writes it to one file."""

    sheet: str  # the worksheet's name; "" for the whole workbook's text
    number: int  # the row or column within the used range, from 1; 0 where the mode has none
    text: str


def _range_name(area: Tuple[int, int, int, int]) -> str:
    first_row, first_column, last_row, last_column = area
    return (
        f"{column_letters(first_column)}{first_row}:{column_letters(last_column)}{last_row}"
    )


def open(source: Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Any], *, name: Optional[str] = None) -> "Workbook":
    """Opens a workbook: a path, its bytes, or a file object opened in binary mode.

    ``name`` stands for the workbook in messages and text names when it is given as bytes or
    a file object (default: the file object's name, else ``"<bytes>"``); its extension tells
    a delimited text's divider as a file name would (``.tsv``). Raises a
    :class:`VellumcastError` subclass naming the workbook when it cannot be read.
    """
    if isinstance(source, (bytes, bytearray, memoryview)):
        return Workbook(_core.open_bytes(bytes(source), name or "<bytes>"))
    if isinstance(source, (str, os.PathLike)):
        path = os.fsdecode(os.fspath(source))
        return Workbook(_core.open_path(path))
    read = getattr(source, "read", None)
    if read is None:
        raise TypeError(f"open() takes a path, bytes or a binary file object, not {type(source).__name__}")
    data = read()
    if isinstance(data, str):
        raise TypeError("the file object gives str: open it in binary mode ('rb')")
    if name is None:
        file_name = getattr(source, "name", None)
        name = os.path.basename(file_name) if isinstance(file_name, str) else "<bytes>"
    return Workbook(_core.open_bytes(bytes(data), name))


class Workbook:
    """An open workbook. Close it (or use ``with``) to let go of its file at once."""

    def __init__(self, book: Any) -> None:
        self._book = book

    @property
    def name(self) -> str:
        """The path it was opened from, or the name given to its bytes."""
        return str(self._book.name)

    @property
    def sheet_names(self) -> List[str]:
        """The worksheets' names, in workbook order, hidden ones included."""
        return [name for name, _ in self._book.sheets()]

    @property
    def sheets(self) -> List[SheetInfo]:
        """Each worksheet's name, visibility, used range and kind. Reads every worksheet."""
        return [
            SheetInfo(sheet.name, sheet.visibility, sheet.used_range, "worksheet") for sheet in self
        ]

    @property
    def warnings(self) -> List[str]:
        """What the workbook holds that shows other than stored, each kind once, as read so far."""
        return list(self._book.warnings())

    def __len__(self) -> int:
        return len(self._book.sheets())

    def __iter__(self) -> Iterator["Sheet"]:
        for index in range(len(self)):
            yield Sheet(self, index)

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and self._find(name) is not None

    def __getitem__(self, key: Union[int, str]) -> "Sheet":
        """A worksheet by its number from 0 (negative from the end) or by its name.

        A name matches exactly, else regardless of letter case when only one does so.
        Raises :class:`IndexError` or :class:`SheetNotFoundError` (a :class:`KeyError`).
        """
        if isinstance(key, bool) or not isinstance(key, (int, str)):
            raise TypeError(f"worksheets are found by number or name, not {type(key).__name__}")
        if isinstance(key, int):
            count = len(self)
            index = key + count if key < 0 else key
            if not 0 <= index < count:
                raise IndexError(f"{self.name} has {count} worksheets: no number {key}")
            return Sheet(self, index)
        index = self._find(key)
        if index is None:
            raise SheetNotFoundError(f'{self.name} has no worksheet "{key}"', self.name)
        return Sheet(self, index)

    def _find(self, name: str) -> Optional[int]:
        names = self.sheet_names
        if name in names:
            return names.index(name)
        folded = [index for index, other in enumerate(names) if other.casefold() == name.casefold()]
        return folded[0] if len(folded) == 1 else None

    def text(self, **options: Any) -> str:
        """Every text of the workbook, one after another, as ``vellumcast-cli -o -`` writes them.

        Takes the command line's options: ``mode`` ("all", the default, "sheet", "row" or
        "column"), ``divider``, ``quotes``, ``csv``, ``lf``, ``bom``, ``skip_blank``,
        ``skip_empty_lines``, ``values``, ``dates``, ``fill_merged``, ``skip_hidden_rows``
        and ``skip_hidden_columns``. Raises the first failure, naming the workbook.
        """
        return _joined(self._texts(None, options), options.get("bom", False))

    def texts(self, **options: Any) -> List[Text]:
        """The texts one by one, as the command line saves them to files; options as :meth:`text`."""
        return self._texts(None, options)

    def _texts(self, index: Optional[int], options: Any) -> List[Text]:
        chosen = text_options(**options)
        mark = "\ufeff" if chosen["bom"] else ""
        return [Text(sheet, number, mark + text) for sheet, number, text in self._book.texts(index, chosen)]

    def close(self) -> None:
        """Lets go of the file and the engine's memory; reads under way finish first."""
        self._book.close()

    @property
    def closed(self) -> bool:
        return bool(self._book.closed)

    def __enter__(self) -> "Workbook":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<vellumcast.Workbook {self.name!r}{' closed' if self.closed else ''}>"


def _joined(texts: Sequence[Text], bom: bool) -> str:
    joined = "".join(entry.text.lstrip("\ufeff") if bom else entry.text for entry in texts)
    return "\ufeff" + joined if bom else joined


class Sheet:
    """One worksheet of an open workbook."""

    def __init__(self, workbook: Workbook, index: int) -> None:
        self._workbook = workbook
        self._index = index
        self._layout: Optional[dict] = None
        self._name, self._visibility = workbook._book.sheets()[index]

    @property
    def workbook(self) -> Workbook:
        return self._workbook

    @property
    def index(self) -> int:
        """Its number from 0, hidden worksheets counted."""
        return self._index

    @property
    def name(self) -> str:
        return str(self._name)

    @property
    def visibility(self) -> str:
        """"visible", "hidden" or "very hidden"."""
        return str(self._visibility)

    @property
    def kind(self) -> str:
        """Always "worksheet": chart, dialog and macro sheets are not listed."""
        return "worksheet"

    def _read_layout(self) -> dict:
        if self._layout is None:
            self._layout = self._workbook._book.layout(self._index)
        return self._layout

    @property
    def dimensions(self) -> Optional[Tuple[int, int, int, int]]:
        """The used range as (first row, first column, last row, last column), from 1; None when empty."""
        found = self._read_layout()["used_range"]
        return tuple(found) if found is not None else None  # type: ignore[return-value]

    @property
    def used_range(self) -> Optional[str]:
        """The used range as "A1:F120"; None for a worksheet without content."""
        found = self.dimensions
        return _range_name(found) if found is not None else None

    @property
    def hidden_rows(self) -> int:
        """How many rows of the used range the workbook hides."""
        return int(self._read_layout()["hidden_rows"])

    @property
    def hidden_columns(self) -> int:
        """How many columns of the used range the workbook hides."""
        return int(self._read_layout()["hidden_columns"])

    @property
    def merged_areas(self) -> List[str]:
        """The merged areas, as "A1:B2", by first row then first column."""
        return [_range_name(tuple(area)) for area in self._read_layout()["merged_areas"]]  # type: ignore[arg-type]

    def rows(
        self,
        values: str = "displayed",
        dates: Optional[str] = None,
        fill_merged: bool = False,
        skip_hidden_rows: bool = False,
        skip_hidden_columns: bool = False,
        skip_blank: bool = False,
        skip_empty_lines: bool = False,
        integers: bool = False,
        stream: bool = True,
        numbered: bool = False,
    ) -> "RowIterator":
        """The rows, one tuple each, as the command line composes its lines; read as they load.

        Rows run over the used range; with blank cells kept (the default) every tuple spans
        its columns (``.columns`` on the iterator names them), else it holds only the cells
        with text. ``values="raw"`` gives typed values: ``float`` (``int`` for whole numbers
        with ``integers=True``), ``bool``, ``str``, ``datetime.date``/``time``/``datetime``
        by the cell's format and the workbook's date system, :class:`CellError` and ``None``
        for a blank cell. ``dates="iso"`` shows dates as ISO 8601 text among displayed
        values. ``numbered=True`` gives ``(row number, tuple)`` pairs.

        A large worksheet is read while it loads, so memory stays flat. Should its later
        rows reach further right than the first ones (a ragged delimited text, a wrong
        stated range) the rows before are shorter by their blank cells at the end; should
        they not agree with the loaded worksheet at all (cells out of order) the iterator
        raises :class:`VellumcastError`: ``stream=False`` loads the worksheet first.
        """
        chosen = cell_options(
            values=values,
            dates=dates,
            fill_merged=fill_merged,
            skip_hidden_rows=skip_hidden_rows,
            skip_hidden_columns=skip_hidden_columns,
            skip_blank=skip_blank,
            skip_empty_lines=skip_empty_lines,
        )
        return self._workbook._book.rows(
            self._index,
            chosen,
            values == "raw",
            _flag_value("integers", integers),
            _flag_value("stream", stream),
            _flag_value("numbered", numbered),
        )

    def read(self, **options: Any) -> Table:
        """The whole worksheet as a :class:`Table` (``to_pandas()`` for a DataFrame); options as :meth:`rows`."""
        options.pop("numbered", None)
        with self.rows(numbered=True, **options) as rows:
            numbered = list(rows)
            columns = rows.columns
        return Table(self.name, numbered, columns)

    def text(self, mode: str = "sheet", **options: Any) -> str:
        """The worksheet's texts as ``vellumcast-cli -o - --sheet N`` writes them; options as :meth:`Workbook.text`."""
        return _joined(self.texts(mode=mode, **options), options.get("bom", False))

    def texts(self, mode: str = "sheet", **options: Any) -> List[Text]:
        """The worksheet's texts one by one, as the command line saves them to files."""
        return self._workbook._texts(self._index, dict(options, mode=mode))

    def __repr__(self) -> str:
        return f"<vellumcast.Sheet {self.name!r} of {self._workbook.name!r}>"


def _flag_value(name: str, value: Any) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {value!r}")
    return value
