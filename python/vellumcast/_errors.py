"""The exceptions vellumcast raises: one base class, and one per kind of failure."""

from __future__ import annotations

from typing import Optional


class VellumcastError(Exception):
    """A workbook could not be read or exported; ``path`` names it (its name for bytes)."""

    def __init__(self, message: str, path: Optional[str] = None) -> None:
        super().__init__(message)
        self.path = path

    def __str__(self) -> str:
        return str(self.args[0]) if self.args else ""


class WorkbookNotFoundError(VellumcastError, FileNotFoundError):
    """There is no such file, or it cannot be read."""


class NotAFileError(VellumcastError, OSError):
    """The path names a folder or another thing that is not a regular file."""


class NotAWorkbookError(VellumcastError):
    """The content is none of the formats vellumcast reads."""


class CorruptWorkbookError(VellumcastError):
    """A format vellumcast reads, whose structure is damaged."""


class PasswordProtectedError(VellumcastError):
    """The workbook is encrypted with a password."""


class WorkbookTooLargeError(VellumcastError):
    """A size, count or ratio beyond what the workbook's file may cause, or memory."""


class UnsupportedWorkbookError(VellumcastError):
    """A format or feature vellumcast recognises but does not read (BIFF2 to BIFF4, …)."""


class SheetNotFoundError(VellumcastError, KeyError):
    """The workbook has no worksheet of that name."""
