"""The command line's options as keyword arguments: checked here, handed to the engine as a dict."""

from __future__ import annotations

from typing import Any, Dict, Optional

_DIVIDERS = {"tab": "\t", "\\t": "\t", "comma": ",", "comma-space": ", ", "space": " "}
_MODES = ("all", "sheet", "row", "column")


def _flag(name: str, value: Any) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {value!r}")
    return value


def cell_options(
    values: str = "displayed",
    dates: Optional[str] = None,
    fill_merged: bool = False,
    skip_hidden_rows: bool = False,
    skip_hidden_columns: bool = False,
    skip_blank: bool = False,
    skip_empty_lines: bool = False,
) -> Dict[str, Any]:
    """What a cell gives and which cells and rows are left out, as --values, --dates, … do."""
    if values not in ("displayed", "raw"):
        raise ValueError(f"values must be 'displayed' or 'raw', not {values!r}")
    if dates not in (None, "iso"):
        raise ValueError(f"dates must be None or 'iso', not {dates!r}")
    return {
        "values": values,
        "dates": dates,
        "fill_merged": _flag("fill_merged", fill_merged),
        "skip_hidden_rows": _flag("skip_hidden_rows", skip_hidden_rows),
        "skip_hidden_columns": _flag("skip_hidden_columns", skip_hidden_columns),
        "skip_blank": _flag("skip_blank", skip_blank),
        "skip_empty_lines": _flag("skip_empty_lines", skip_empty_lines),
    }


def text_options(
    mode: str = "all",
    divider: Optional[str] = None,
    quotes: bool = True,
    csv: bool = False,
    lf: bool = False,
    bom: bool = False,
    **cells: Any,
) -> Dict[str, Any]:
    """The options of the texts, as the command line's: --mode, --divider, --no-quotes, --csv, --lf, --bom."""
    if mode not in _MODES:
        raise ValueError(f"mode must be one of {', '.join(_MODES)}, not {mode!r}")
    chosen = cell_options(**cells)
    if divider is None:
        divider = "," if csv else "\t"
    elif not isinstance(divider, str) or divider == "":
        raise ValueError("divider must be tab, comma, comma-space, space or the text itself")
    chosen.update(
        mode=mode,
        divider=_DIVIDERS.get(divider, divider),
        quotes=_flag("quotes", quotes),
        csv=_flag("csv", csv),
        lf=_flag("lf", lf),
        bom=_flag("bom", bom),
    )
    return chosen
