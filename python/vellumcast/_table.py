"""A worksheet read whole, and its pandas DataFrame when pandas is installed."""

from __future__ import annotations

from typing import Any, List, Optional, Sequence, Tuple


def column_letters(column: int) -> str:
    """The letters of a column numbered from 1: 1 is A, 27 is AA."""
    letters = ""
    while column > 0:
        column, rest = divmod(column - 1, 26)
        letters = chr(ord("A") + rest) + letters
    return letters


class Table:
    """The rows of a worksheet, with their numbers and the columns their cells stand in."""

    def __init__(
        self,
        sheet: str,
        numbered: Sequence[Tuple[int, Tuple[Any, ...]]],
        columns: Optional[Sequence[int]],
    ) -> None:
        self.sheet = sheet
        self.row_numbers: List[int] = [number for number, _ in numbered]
        self.rows: List[Tuple[Any, ...]] = [row for _, row in numbered]
        width = max((len(row) for row in self.rows), default=0)
        if columns is not None and len(columns) >= width:
            # The letters of the worksheet's columns, as in the application.
            self.columns: List[str] = [column_letters(column) for column in columns]
        else:
            # Rows of the cells holding text only: positions, not columns.
            self.columns = [str(position) for position in range(1, width + 1)]

    def __len__(self) -> int:
        return len(self.rows)

    def __iter__(self):  # type: ignore[no-untyped-def]
        return iter(self.rows)

    def __repr__(self) -> str:
        return f"<vellumcast.Table {self.sheet!r}: {len(self.rows)} rows, {len(self.columns)} columns>"

    def to_pandas(self, header: bool = False) -> Any:
        """A pandas DataFrame indexed by row number; ``header=True`` names the columns from the first row.

        Needs pandas, which vellumcast does not depend on.
        """
        try:
            import pandas
        except ImportError as error:  # pragma: no cover - depends on the machine
            raise ImportError("to_pandas() needs pandas (Debian: python3-pandas)") from error
        rows = self.rows
        index = self.row_numbers
        columns: List[Any] = list(self.columns)
        if header and rows:
            columns = [str(name) if name is not None else columns[i] for i, name in enumerate(rows[0])]
            columns += self.columns[len(columns):]
            rows, index = rows[1:], index[1:]
        padded = [tuple(row) + (None,) * (len(columns) - len(row)) for row in rows]
        return pandas.DataFrame.from_records(padded, columns=columns, index=pandas.Index(index, name="row"))
