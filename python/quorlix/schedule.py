"""Financial Data Schedules as data: the decoder's schedule output read back into rows and values.

The decoder writes each schedule row as two fixed-width columns: the label,
cut or padded to 20 characters, then the value right-aligned so that its line
end fills the last two of 20 more columns (21 when the value holds a ')', so
that the digits of a negative in parentheses line up with the others). The
readers here undo that layout; the rules are in read_schedule's docstring.
"""
from __future__ import annotations

import os
import re
import tempfile
from dataclasses import dataclass
from typing import Iterable, Union

from ._convert import PathArg, decode_filing

LABEL_COLUMNS = 20
VALUE_COLUMNS = 20

# The decoder's labels in the order of a schedule. "Currents Assets" is spelt as
# the decoder writes it.
LABELS = (
    "Article", "Multiplier", "Currency", "Period Type", "Fiscal Year End", "Period Start", "Period End",
    "Exchange Rate", "Cash", "Securities", "Receivables", "Allowances", "Inventory", "Currents Assets",
    "PP&E", "Depreciation", "Total Assets", "Current Liabilities", "Bonds", "Preferred Mandatory",
    "Preferred", "Common", "Other SE", "Total Liability & Equity", "Sales", "Total Revenues", "CGS",
    "Total Costs", "Other Expenses", "Loss Provision", "Interest Expense", "Income Pretax", "Income Tax",
    "Income Continuing", "Discontinued", "Extraordinary", "Changes", "Net Income", "EPS Primary",
    "EPS Diluted",
)
# A row's label column as written (cut after 20 characters) -> the whole label.
_LABEL_BY_COLUMN = {label[:LABEL_COLUMNS].ljust(LABEL_COLUMNS): label for label in LABELS}

FIRST_LABEL = "Article"
MULTIPLIER_LABEL = "Multiplier"
# Rows that are not amounts in the filing's currency: the multiplier never applies to them.
NOT_AMOUNTS = frozenset({
    "Article", "Multiplier", "Currency", "Period Type", "Fiscal Year End", "Period Start", "Period End",
    "Exchange Rate", "EPS Primary", "EPS Diluted",
})
# Rows kept as written, never read as numbers.
TEXT_ROWS = frozenset({"Article", "Currency", "Period Type", "Fiscal Year End", "Period Start", "Period End"})

_NUMBER = re.compile(r"(?P<minus>-)?(?P<digits>\d{1,3}(?:,\d{3})+|\d+)?(?P<decimals>\.\d+)?")


@dataclass(frozen=True)
class _Row:
    label: str
    value: str
    # The value fills its whole column, so the decoder may have cut leading characters off it.
    full: bool = False


def _read_rows(path: PathArg) -> list[_Row]:
    with open(path, "rb") as file:
        data = file.read()
    rows: list[_Row] = []
    for line in data.decode("latin-1").splitlines(keepends=True):
        content = line.rstrip("\r\n")
        _parse_line(content, len(line) - len(content), rows)
    return rows


def _parse_line(content: str, end_length: int, rows: list[_Row]) -> None:
    # A loop rather than recursion: empty values in a row can join any number of rows.
    while True:
        label = _LABEL_BY_COLUMN.get(content[:LABEL_COLUMNS])
        if label is None:
            if content.strip():
                rows.append(_Row("", content.strip()))
            return
        value_column = content[LABEL_COLUMNS:]
        joined_width = LABEL_COLUMNS + VALUE_COLUMNS
        if len(content) >= joined_width and not content[LABEL_COLUMNS:joined_width].strip():
            # An empty value is written as 20 blanks without a line end, so whatever
            # the decoder wrote next continues this line.
            rows.append(_Row(label, ""))
            content = content[joined_width:]
            if not content:
                return
            continue
        # A line end takes the column's last places; without one the value reaches the last column.
        width = VALUE_COLUMNS + (1 if ")" in value_column else 0) - end_length
        full = len(value_column) >= width and not value_column[:1].isspace()
        rows.append(_Row(label, value_column.strip(), full))
        return


def read_schedule(path: PathArg) -> list[tuple[str, str]]:
    """The rows of a schedule output as the decoder writes it: (label, value) pairs, in file order.

    Rules:
      - A row's label is the decoder's label in full ("Total Liability & Equity",
        which the output cuts to 20 characters); the value is the text of its
        column without blanks around it, exactly as written otherwise.
      - Values the decoder cut (it keeps the last 18 characters, 19 with a ')')
        stay as cut: the cut part is not in the file.
      - Lines of tags the decoder does not name (such as <EPS-BASIC>) reach the
        output as their text alone; they become rows with an empty label.
        Blank lines are no rows.
      - A tag with nothing after it is written as its label and 20 blanks with no
        line end, so the next row continues the same line. Such a line is split
        back into a row with an empty value and what follows, as often as it
        happens. Two cases cannot be recovered, since the file does not hold
        them: a tag the decoder does not name with nothing after it writes
        nothing at all, so it leaves no row; and an empty value followed by a
        blank line gives just the row (the blank line is lost).
      - Several schedules in one filing follow each other; each begins with its
        "Article" row (read_schedules returns them apart).
    """
    return [(row.label, row.value) for row in _read_rows(path)]


def _split_schedules(rows: list[_Row]) -> list[list[_Row]]:
    schedules: list[list[_Row]] = []
    for row in rows:
        if row.label == FIRST_LABEL or not schedules:
            schedules.append([])
        schedules[-1].append(row)
    return schedules


def read_schedules(path: PathArg) -> list[list[tuple[str, str]]]:
    """The rows of each schedule in a schedule output, one list per schedule.

    A schedule begins at an "Article" row; rows before the first one (from a
    filing whose schedule lacks it) form a schedule of their own.
    """
    return [[(row.label, row.value) for row in schedule] for schedule in _split_schedules(_read_rows(path))]


def parse_number(text: str) -> float | None:
    """A number as filings write it, or None: thousands commas, decimals, and a
    negative either in parentheses, "(1,045)", or with a leading minus, "-1,045"."""
    inner = text.strip()
    negative = inner.startswith("(") and inner.endswith(")")
    if negative:
        inner = inner[1:-1].strip()
    match = _NUMBER.fullmatch(inner)
    if not match or not (match["digits"] or match["decimals"]) or (negative and match["minus"]):
        return None
    number = float((match["digits"] or "0").replace(",", "") + (match["decimals"] or ""))
    return -number if negative or match["minus"] else number


def _values(rows: list[_Row], apply_multiplier: bool) -> dict[str, float | str]:
    values: dict[str, float | str] = {}
    for row in rows:
        if not row.label or row.label in values:
            continue
        number = None if row.label in TEXT_ROWS or row.full else parse_number(row.value)
        values[row.label] = row.value if number is None else number
    multiplier = values.get(MULTIPLIER_LABEL)
    if apply_multiplier and isinstance(multiplier, float):
        for label, value in values.items():
            if label not in NOT_AMOUNTS and isinstance(value, float):
                values[label] = value * multiplier
    return values


def schedule_values(path: PathArg, *, schedule: int = 1, apply_multiplier: bool = False) -> dict[str, float | str]:
    """The values of one schedule of a schedule output, by label.

    schedule      which schedule of the file, counting from 1
    Numbers are parsed as the filings write them (see parse_number); other values
    stay text, and so do the Article and period rows, Currency, and a value that
    fills its whole column (it may have been cut). Rows without a label and the
    second of two rows with one label are left out. With apply_multiplier the
    amounts are multiplied by the Multiplier row; per-share values (EPS), the
    Article, the Multiplier itself, the Exchange Rate and the period rows never are.
    Returns an empty dict when the file holds no such schedule.
    """
    schedules = _split_schedules(_read_rows(path))
    if not 1 <= schedule <= len(schedules):
        return {}
    return _values(schedules[schedule - 1], apply_multiplier)


# ---- Header of the text output ----

HEADER_FIELDS = {
    "accession_number": ("ACCESSION NUMBER:",),
    "company_name": ("COMPANY CONFORMED NAME:",),
    "form_type": ("CONFORMED SUBMISSION TYPE:", "FORM TYPE:"),
    "period": ("CONFORMED PERIOD OF REPORT:",),
}
_HEADER_BYTES = 64 * 1024


def read_header(text_path: PathArg) -> dict[str, str | None]:
    """The accession number, company name, form type and period of report from the
    header lines of a decoded text output (the first of each; None when absent)."""
    with open(text_path, "rb") as file:
        head = file.read(_HEADER_BYTES).decode("latin-1")
    found: dict[str, tuple[int, str]] = {}
    for line in head.splitlines():
        line = line.strip()
        for field, prefixes in HEADER_FIELDS.items():
            for rank, prefix in enumerate(prefixes):
                if line.startswith(prefix) and (field not in found or found[field][0] > rank):
                    found[field] = (rank, line[len(prefix):].strip())
    return {field: found[field][1] if field in found else None for field in HEADER_FIELDS}


# ---- DataFrame ----

FilingEntry = Union[PathArg, "tuple[PathArg, PathArg]", object]


def _outputs_of(entry: FilingEntry, work_dir: str, index: int) -> tuple[str, str, str]:
    """(filing, text output, schedule output) of one entry of schedules_frame."""
    outputs = getattr(entry, "outputs", None)
    if outputs is not None:
        return str(getattr(entry, "input")), os.fsdecode(outputs[0]), os.fsdecode(outputs[1])
    if isinstance(entry, tuple):
        text, schedule = entry
        return os.fsdecode(text), os.fsdecode(text), os.fsdecode(schedule)
    text = os.path.join(work_dir, f"{index}.txt")
    schedule = os.path.join(work_dir, f"{index}.fds.txt")
    decode_filing(entry, text, schedule)  # type: ignore[arg-type]
    return os.fsdecode(entry), text, schedule  # type: ignore[arg-type]


def schedules_frame(paths: Iterable[FilingEntry], *, apply_multiplier: bool = False):
    """A pandas DataFrame of the Financial Data Schedules of several filings: one row per schedule.

    Each entry of paths is a filing (decoded here, into a temporary folder), a
    pair (text output, schedule output) that decode_filing wrote, or a record of
    quorlix.batch.decode_filings. Columns: filing, accession_number,
    company_name, form_type, period (from the text output's header lines),
    schedule (its number within the filing, from 1), then one per label in
    schedule order, as schedule_values gives them. A filing without a schedule
    gives no row. Needs pandas.
    """
    try:
        import pandas
    except ImportError as error:
        raise ImportError("quorlix.schedules_frame needs pandas: install python3-pandas (Debian) "
                          "or the pandas package") from error
    records = []
    with tempfile.TemporaryDirectory(prefix="quorlix-") as work_dir:
        for index, entry in enumerate(paths):
            filing, text, schedule_path = _outputs_of(entry, work_dir, index)
            header = read_header(text)
            for number, rows in enumerate(_split_schedules(_read_rows(schedule_path)), start=1):
                records.append({"filing": filing, **header, "schedule": number, **_values(rows, apply_multiplier)})
    fixed = ["filing", *HEADER_FIELDS, "schedule"]
    seen = {label for record in records for label in record}
    columns = fixed + [label for label in LABELS if label in seen]
    return pandas.DataFrame.from_records(records, columns=columns)
