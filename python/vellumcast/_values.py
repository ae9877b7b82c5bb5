"""Values of cells that Python has no type of its own for."""

from __future__ import annotations


class CellError:
    """An error value of a cell, such as ``#N/A`` or ``#DIV/0!``; equal to another of the same code."""

    __slots__ = ("code",)
    code: str

    def __init__(self, code: str) -> None:
        object.__setattr__(self, "code", code)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError("CellError is immutable")

    def __eq__(self, other: object) -> bool:
        return isinstance(other, CellError) and other.code == self.code

    def __hash__(self) -> int:
        return hash(("CellError", self.code))

    def __repr__(self) -> str:
        return f"CellError({self.code!r})"

    def __str__(self) -> str:
        return self.code

    def __reduce__(self):  # type: ignore[no-untyped-def]
        return (CellError, (self.code,))
