"""Financial Data Schedules as data.

schedules_frame reads the EX-27 schedules of many filings straight from the
filings into one DataFrame, through the library's table of them; panel_frame
reads them into the panel, one row per company and period; tag_dictionary
gives what each tag is, from the dictionary the library is built from.

The other readers read the decoder's schedule output back into rows and values.
The decoder writes each schedule row as two fixed-width columns: the label,
cut or padded to 20 characters, then the value right-aligned so that its line
end fills the last two of 20 more columns (21 when the value holds a ')', so
that the digits of a negative in parentheses line up with the others). The
readers undo that layout; the rules are in read_schedule's docstring.
"""
from __future__ import annotations

import csv
import ctypes
import functools
import io
import os
import re
from dataclasses import dataclass
from typing import Iterable, Union

from . import _library, batch
from ._convert import PathArg, _path_bytes
from ._data import data_file
from ._errors import SCHEDULES, QuorlixFormatError, error_for

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


# ---- The table of every schedule ----

FilingEntry = Union[PathArg, object]

# What the library writes for a number (its plain form) and for a date.
_PLAIN_NUMBER = r"-?\d+(?:\.\d+)?"
_ISO_DATE = r"\d{4}-\d{2}-\d{2}"
_PLAIN_NUMBER_TEXT = re.compile(_PLAIN_NUMBER)
_ISO_DATE_TEXT = re.compile(_ISO_DATE)
# Columns of both forms with a type of their own; the others stay strings.
_DATE_COLUMNS = ("filed", "period")
_INTEGER_COLUMNS = ("cik", "sic", "schedule", "series")
_FLAG_COLUMNS = ("flawed", "complete", "restated")
# The columns from path to multiplier_source, in both forms; the wide form has
# unparsed next, then one column per tag.
FIXED_COLUMNS = ("path", "member", "accession_number", "cik", "company", "form_type", "filed", "period", "sic",
                 "fiscal_year_end", "document", "description", "schedule", "article", "series", "series_name",
                 "flawed", "complete", "multiplier", "restated", "multiplier_source")
WIDE_FIXED_COLUMNS = FIXED_COLUMNS + ("unparsed", "other_tags")
# The panel's columns before its tags, and its key.
PANEL_COLUMNS = ("cik", "series", "company", "article", "fiscal_year_end", "period_start", "period_end", "months",
                 "derived", "period_type", "period_type_conflict", "vintages", "filed", "form_type",
                 "accession_number", "schedule", "path", "member", "restated", "multiplier", "multiplier_source",
                 "revenue", "net_income", "total_assets", "eps_basic", "eps_diluted", "other_tags")
PANEL_KEY = ("cik", "series", "period_end", "months", "derived")
_CONCEPT_COLUMNS = ("revenue", "net_income", "total_assets", "eps_basic", "eps_diluted")
# Kinds of the tag dictionary whose values are numbers.
_NUMBER_KINDS = frozenset({"stock", "flow", "shares", "per-share", "ratio"})
# The database layout read_database knows; a newer one is refused.
_DATABASE_FORMAT = 2


@functools.lru_cache(maxsize=None)
def _tag_kinds() -> dict[str, str]:
    """Each dictionary tag's kind (a tag has one kind in every article)."""
    with open(data_file("fds_tags.tsv"), encoding="utf-8", newline="") as file:
        rows = csv.reader((line for line in file if not line.startswith("#")), delimiter="\t")
        next(rows)
        return {row[1]: row[2] for row in rows if row}


def tag_dictionary():
    """The tag dictionary as a DataFrame: one row per article and tag, with the
    columns article, tag, kind (stock, flow, shares, per-share, ratio, date,
    period-type, text, identifier), label and concept (revenue, net_income,
    total_assets, eps_basic, eps_diluted, or empty), all strings. It is the file
    the library's table is built from (data/fds_tags.tsv in the sources, which
    cites where each tag was found); quorlix tags prints the same rows. Needs pandas."""
    pandas = _pandas("tag_dictionary")
    return pandas.read_csv(data_file("fds_tags.tsv"), sep="\t", comment="#", dtype=str, keep_default_na=False,
                           na_filter=False, encoding="utf-8")


def _filing_paths(filings: Iterable[FilingEntry]) -> list[str]:
    """The files to read: paths as named, folders walked as the batch forms walk
    them, and the inputs of batch.decode_filings's records."""
    paths: list[str] = []
    for path in _table_inputs(filings):
        paths.extend(batch.files_below(path) if os.path.isdir(path) else [path])
    return paths


def _table_inputs(filings: Iterable[FilingEntry]) -> list[str]:
    """The files and folders the table reads, as named: paths, and the inputs of
    batch.decode_filings's records. The library walks the folders as the batch
    forms walk them; one that cannot be read raises here, as it always did."""
    named: list[str] = []
    for entry in filings:
        if isinstance(entry, batch.Record):
            named.append(entry.input)
            continue
        path = os.fsdecode(entry)  # type: ignore[arg-type]
        if os.path.isdir(path):
            os.scandir(path).close()
        named.append(path)
    return named


def _read_table(named: list[str], form: int, jobs: int, vintage: str = "first", max_columns: int = 0,
                spreadsheet_safe: bool = False) -> tuple[io.BytesIO, list[tuple]]:
    """The library's table of the filings and folders named, read by one batch of the
    library, and the (path, status, problem, failure) of each input that failed;
    problem names a damaged archive's member and what is wrong, or is empty;
    failure is the library's record of why."""
    encoded = [_path_bytes(path) for path in named]
    table = io.BytesIO()  # one copy of the table, which read_csv reads in place
    failures: list[tuple] = []
    raised: list[BaseException] = []

    # Exceptions cannot cross the library; one ends the call, and is raised after it.
    @_library.WRITE_FN
    def write(_context, data, size):
        try:
            table.write(ctypes.string_at(data, size))
            return 0
        except BaseException as error:  # noqa: BLE001
            raised.append(error)
            return 1

    def on_input(path: bytes, entry, failure) -> None:
        if entry.status != 0:
            problem = entry.problem.decode("utf-8", "replace") if entry.problem else ""
            failures.append((os.fsdecode(path), entry.status, problem, failure))

    options = _library.ScheduleOptions(vintage=_library.VINTAGES[vintage], max_columns=max_columns,
                                       spreadsheet_safe=1 if spreadsheet_safe else 0)
    if encoded:
        status = _library.run_table(encoded, form, jobs, options, write, on_input)
    else:
        # No inputs: the table's header alone, which a batch, refusing, would not write.
        status = _library.write_schedules_ex()((ctypes.c_char_p * 0)(), 0, form, jobs, ctypes.byref(options), write,
                                               None, _library.INPUT_FN(), None)
    if raised:
        raise raised[0]
    if status == 23:
        raise MemoryError("quorlix_write_schedules: not enough memory")
    if status == 24:
        raise error_for(SCHEDULES, status)
    if status != 0:
        raise RuntimeError(f"quorlix_write_schedules failed: {_library.SCHEDULES_STATUS_NAMES.get(status, status)} "
                           f"(status {status})")
    table.seek(0)
    return table, failures


def _dates(pandas, cells):
    return pandas.to_datetime(cells.where(cells != ""), format="%Y-%m-%d", errors="coerce")


def _numbers(pandas, cells):
    """Plain numbers as float64; NaN for other text and for a number beyond float64's range,
    which a tag column then lists in unparsed rather than hold as inf."""
    numbers = pandas.to_numeric(cells.where(cells.str.fullmatch(_PLAIN_NUMBER)), errors="coerce").astype("float64")
    return numbers.where(numbers.abs() != float("inf"))


def _plain_numbers(values):
    """float64 of cells that are all plain numbers or empty (NaN), beyond float64's range NaN too."""
    import numpy
    numbers = numpy.full(len(values), numpy.nan)
    filled = values != ""
    numbers[filled] = [float(value) for value in values[filled]]
    numbers[numpy.isinf(numbers)] = numpy.nan
    return numbers


def _typed_tags(pandas, frame, columns):
    """The frame with its tag columns typed by their kind in the dictionary:
    numbers float64, dates datetime64, the rest strings; a tag the dictionary
    does not hold is typed by its cells, as before the dictionary (numbers or
    dates when all of them are). A cell that does not fit its column's type (a
    schedule of an article the dictionary does not hold may write N/A for CASH)
    is added to unparsed, where the frame has that column, as the library adds
    the others. The typed columns go into one new frame, however many there are."""
    kinds = _tag_kinds()
    typed = {}
    unparsed = None
    for column in columns:
        cells = frame[column]
        if cells.dtype == "float64":
            continue  # read as numbers already
        kind = kinds.get(column)
        if kind in _NUMBER_KINDS or kind == "date":
            values = _numbers(pandas, cells) if kind in _NUMBER_KINDS else _dates(pandas, cells)
            lost = values.isna() & (cells != "")
            if lost.any() and "unparsed" in frame.columns:
                if unparsed is None:
                    unparsed = frame["unparsed"].copy()
                before = unparsed[lost]
                unparsed[lost] = before.where(before == "", before + "; ") + column + "=" + cells[lost]
            typed[column] = values
        elif kind is None:
            values = cells.to_numpy()
            filled = values[values != ""]
            if len(filled) and all(_ISO_DATE_TEXT.fullmatch(value) for value in filled):
                typed[column] = _dates(pandas, cells)
            elif all(_PLAIN_NUMBER_TEXT.fullmatch(value) for value in filled):
                typed[column] = pandas.Series(_plain_numbers(values), index=cells.index)
    if unparsed is not None:
        typed["unparsed"] = unparsed
    if not typed:
        return frame
    result = pandas.DataFrame({column: typed.get(column, frame[column]) for column in frame.columns},
                              index=frame.index)
    result.attrs = frame.attrs
    return result


def _by_distinct(pandas, cells, convert):
    """convert applied to each distinct cell once: a schedule's fixed columns repeat on every row
    of the long form, so typing the few distinct values saves time and the strings' memory."""
    codes, distinct = pandas.factorize(cells, sort=False, use_na_sentinel=False)
    typed = convert(pandas.Series(distinct, dtype=object))
    return pandas.Series(typed.to_numpy().take(codes) if not hasattr(typed, "array") else typed.array.take(codes),
                         index=cells.index, name=cells.name)


def _integers(pandas, cells):
    return pandas.to_numeric(cells.where(cells.str.fullmatch(r"\d+")), errors="coerce").astype("Int64")


def _typed(frame, wide: bool):
    """The frame's columns in their types; every column arrives as strings, empty where no value is.
    The new columns are made first and put in at once."""
    import pandas
    typed = {}
    for column in _DATE_COLUMNS:
        typed[column] = _by_distinct(pandas, frame[column], lambda cells: _dates(pandas, cells))
    for column in _INTEGER_COLUMNS:
        typed[column] = _by_distinct(pandas, frame[column], lambda cells: _integers(pandas, cells))
    for column in _FLAG_COLUMNS:
        typed[column] = frame[column] == "1"
    typed["multiplier"] = _by_distinct(pandas, frame["multiplier"], lambda cells: _numbers(pandas, cells))
    if not wide:
        # value holds a plain number, an ISO date or nothing: the dates are no numbers.
        value = pandas.to_numeric(frame["value"].where(frame["value"] != ""), errors="coerce")
        typed["value"] = value.where(value.abs() != float("inf"))
        if frame["scaled"].dtype != "float64":
            typed["scaled"] = _numbers(pandas, frame["scaled"])
    # One new frame rather than column after column into the old one's blocks, each a copy of them all.
    attrs = frame.attrs
    frame = pandas.DataFrame({column: typed.get(column, frame[column]) for column in frame.columns},
                             index=frame.index)
    frame.attrs = attrs
    if wide:
        frame = _typed_tags(pandas, frame, frame.columns[len(WIDE_FIXED_COLUMNS):])
    return frame


def _pandas(function: str):
    try:
        import pandas
    except ImportError as error:
        raise ImportError(f"quorlix.{function} needs pandas: install python3-pandas (Debian) "
                          "or the pandas package") from error
    return pandas


_ERRORS = ("raise", "collect")


def _failure_error(path: str, status: int, problem: str, failure=None):
    """The exception for an input that could not be read, in the words of the
    library's record of why."""
    error = error_for(SCHEDULES, status, (path,), failure)
    if problem:
        error.message = f"cannot read '{path}': {problem} (status {status})"
        error.args = (error.message,)
    return error


def _read_csv(pandas, table: io.BytesIO, form: int):
    """The table as a frame: strings, empty where no value is, but for the columns that the
    library writes as plain numbers or nothing (the long form's scaled, the wide form's tags of a
    number's kind), which the parser reads as float64 at once, NaN where empty."""
    header = next(csv.reader([table.readline().decode("utf-8", "surrogateescape")]), [])
    table.seek(0)
    if form == _library.SCHEDULES_LONG:
        numbers = {"scaled"}
    elif form == _library.SCHEDULES_WIDE:
        kinds = _tag_kinds()
        numbers = {column for column in header[len(WIDE_FIXED_COLUMNS):] if kinds.get(column) in _NUMBER_KINDS}
    else:
        numbers = set()
    dtypes = {column: "float64" if column in numbers else str for column in header}
    try:
        frame = pandas.read_csv(table, dtype=dtypes, keep_default_na=False,
                                na_values={column: [""] for column in numbers}, na_filter=bool(numbers),
                                encoding="utf-8", encoding_errors="surrogateescape")
    except ValueError:
        # A cell that is no number after all (a schedule of an article the dictionary does not hold
        # keeps the general rules; a number too long for the parser): all strings, typed afterwards.
        table.seek(0)
        return pandas.read_csv(table, dtype=str, keep_default_na=False, na_filter=False, encoding="utf-8",
                               encoding_errors="surrogateescape")
    # A number beyond float64's range is none: NaN, with its text in unparsed where the frame has it.
    for column in numbers:
        beyond = frame[column].abs() == float("inf")
        if beyond.any():
            if "unparsed" in frame.columns:
                table.seek(0)
                raw = pandas.read_csv(table, usecols=[column], dtype=str, keep_default_na=False, na_filter=False,
                                      encoding="utf-8", encoding_errors="surrogateescape")[column]
                unparsed = frame.loc[beyond, "unparsed"]
                frame.loc[beyond, "unparsed"] = unparsed.where(unparsed == "", unparsed + "; ") + \
                    column + "=" + raw[beyond]
            frame[column] = frame[column].where(~beyond)
    return frame


def _table_frame(filings, form: int, jobs, vintage: str = "first", errors: str = "raise", max_columns: int = 0,
                 spreadsheet_safe: bool = False):
    """The library's table of the filings as a frame of strings, and the (path, status, message) of
    each input it could not read; with errors="raise" the first of those raises instead."""
    if errors not in _ERRORS:
        raise ValueError(f"errors must be 'raise' or 'collect', not {errors!r}")
    pandas = _pandas("panel_frame" if form == _library.SCHEDULES_PANEL else "schedules_frame")
    table, failures = _read_table(_table_inputs(filings), form, jobs or 0, vintage, max_columns, spreadsheet_safe)
    errors_met = [_failure_error(*failure) for failure in failures]
    if errors_met and errors == "raise":
        error = errors_met[0]
        if len(errors_met) > 1:
            error.message += f"; {len(errors_met) - 1} more inputs failed"
            error.args = (error.message,)
        raise error
    frame = _read_csv(pandas, table, form)
    return frame, [(path, status, error.message) for (path, status, *_), error in zip(failures, errors_met)]


def _check_max_columns(max_columns) -> None:
    if isinstance(max_columns, bool) or not isinstance(max_columns, int) or max_columns < 1:
        raise ValueError(f"max_columns must be a positive number, not {max_columns!r}")


def _fixed_tags(frame, tags):
    """The wide frame with exactly these tag columns, in this order, an absent one empty."""
    tags = list(tags)
    if len(set(tags)) != len(tags):
        raise ValueError("tags names a tag twice")
    fixed = list(frame.columns[:len(WIDE_FIXED_COLUMNS)])
    columns = {column: frame[column] for column in fixed}
    empty = None
    for tag in tags:
        if tag in frame.columns:
            columns[tag] = frame[tag]
        else:
            if empty is None:
                import pandas
                empty = pandas.Series([""] * len(frame), index=frame.index, dtype=object)
            columns[tag] = empty
    import pandas
    return pandas.DataFrame(columns, index=frame.index)


def schedules_frame(filings: Iterable[FilingEntry], *, long: bool = False, jobs: int | None = None,
                    errors: str = "raise", tags: Iterable[str] | None = None, max_columns: int = 500,
                    spreadsheet_safe: bool = False):
    """The Financial Data Schedules of many filings as one pandas DataFrame, read by one library call.

    filings  filing paths, folders (their files taken as the batch forms take
             them: depth-first, names in byte order), or the records of
             quorlix.batch.decode_filings (their inputs). A file is taken by its
             content: a compressed file (gzip, bzip2, xz, compress) is read as its
             decompressed bytes, a tar or zip archive (plain or compressed) as
             every regular member, in archive order.
    long     False: one row per schedule, one column per tag (the wide form);
             True: one row per value (the long form)
    jobs     threads reading filings at once; None is one per processor. The
             library reads on its own threads, without the GIL.
    max_columns  the wide form's tag columns at most (a positive number): the
             dictionary's tags keep theirs, the other tags fill the cap, those
             in the most schedules first; the values of the tags left out are
             in the text column other_tags as TAG=raw pairs joined by "; "
    spreadsheet_safe  True: a text cell that starts with =, +, -, @, TAB or CR
             and is no plain number gets a leading ' (as the tool's
             --spreadsheet-safe); number columns never change

    The wide form's key is (path, member, accession_number, schedule):
    schedules are numbered 1, 2, ... within each submission of a file, and
    member is the archive member's path (empty for a plain or compressed file).
    path and member are text as the library writes names: a byte that is not
    part of valid UTF-8 (a Latin-1 name) as the four characters \\xNN. Its
    columns are path, member, accession_number, cik, company, form_type, filed,
    period, sic,
    fiscal_year_end, document, description, schedule, article, series,
    series_name, flawed, complete, multiplier, restated, multiplier_source,
    unparsed, other_tags, then one per tag (TOTAL-ASSETS, EPS-BASIC, ...) in the order first
    met. A tag's cell is the amount times the multiplier (per-share figures,
    ratios and dates unscaled; share counts are scaled), the date, or the text;
    a value that is not of its tag's kind (N/A for an amount) is left empty and
    listed in unparsed as TAG=raw. The long form has the same columns up to
    multiplier_source, then tag, raw (as written), value (the number) and scaled.

    Types: a tag column's type comes from the tag's kind in the dictionary
    (tag_dictionary()): numbers float64 with NaN for empty cells, dates
    datetime64, text strings; a tag the dictionary does not hold is float64 or
    datetime64 when all its cells are numbers or dates, else strings. filed and
    period are datetime64; cik, sic, schedule and series nullable Int64;
    multiplier float64 (NaN when unreadable); flawed, complete and restated
    bool; value and scaled float64 (NaN for dates and text); fiscal_year_end
    and the rest strings.

    A filing without a schedule gives no row, nor does a file that is no
    filing (no submission's frame line in the first 8 KiB of its content,
    past blank lines and a PEM preamble); a file that
    several inputs name is read once. An input that cannot be read (a damaged
    archive among them: its member and what is wrong are named) raises
    QuorlixError (FileNotFoundError for a missing one) after the whole call,
    naming the first such input. With errors="collect" it does not: the frame
    holds every schedule read, and frame.attrs["failures"] lists (path,
    status, message) for each input that failed ([] when none did).

    tags     (wide form) the tag columns, exactly these and in this order, each
             present even where no schedule has it: frames of different inputs
             then share their columns. Values of other tags are left out. A tag
             the dictionary does not hold is picked among the max_columns the
             library kept: one left to other_tags stays there (raise max_columns).

    A number beyond float64's range is no number in its tag's column: the
    cell is NaN and the value is listed in unparsed. Needs pandas.
    """
    _check_max_columns(max_columns)
    form = _library.SCHEDULES_LONG if long else _library.SCHEDULES_WIDE
    if tags is not None and long:
        raise ValueError("tags fixes the wide form's columns; the long form has none per tag")
    frame, failures = _table_frame(filings, form, jobs, errors=errors, max_columns=max_columns,
                                   spreadsheet_safe=spreadsheet_safe)
    if tags is not None:
        frame = _fixed_tags(frame, tags)
    frame = _typed(frame, wide=not long)
    frame.attrs["failures"] = failures
    return frame


def panel_frame(filings: Iterable[FilingEntry], *, vintage: str = "first", jobs: int | None = None,
                errors: str = "raise", max_columns: int = 500, spreadsheet_safe: bool = False):
    """The panel of many filings' schedules as a pandas DataFrame: one row per
    company, series and period, keyed by (cik, series, period_end, months, derived).

    filings  as for schedules_frame
    vintage  "first": of a period's schedules keep the one filed earliest, as
             first reported; "latest": the one filed last, amendments and
             restatements included
    jobs     threads reading filings at once; None is one per processor
    max_columns, spreadsheet_safe  as for schedules_frame

    The columns are PANEL_COLUMNS, then one per tag typed by its kind as in
    schedules_frame. Rows are sorted by the key. period_end is PERIOD-END (else
    FISCAL-YEAR-END for a year's schedule, else the period of report); months
    comes from the dates where they say it, else from PERIOD-TYPE, and
    period_type_conflict is True where they disagree; a derived row (derived
    True) is the quarter between two year-to-date rows of one fiscal year, flows
    their difference and stocks the later row's values, its source columns
    (filed, form_type, accession_number, schedule, path, member) both rows' joined by
    ";". The rules in full are in the README ("Panel") and quorlix(1).

    Types: cik nullable Int64; fiscal_year_end, period_start and period_end
    datetime64; months int64; derived, period_type_conflict and restated bool;
    vintages nullable Int64 (empty for derived rows); multiplier and the
    concepts (revenue, net_income, total_assets, eps_basic, eps_diluted)
    float64; series, filed, schedule and the other source columns strings.
    Raises ValueError for another vintage, and as schedules_frame for inputs
    that cannot be read; errors="collect" keeps going as there, the failures in
    frame.attrs["failures"]. Needs pandas and libquorlix.so 1.2 or later.
    """
    if vintage not in _library.VINTAGES:
        raise ValueError(f"vintage must be 'first' or 'latest', not {vintage!r}")
    _check_max_columns(max_columns)
    frame, failures = _table_frame(filings, _library.SCHEDULES_PANEL, jobs, vintage, errors, max_columns,
                                   spreadsheet_safe)
    frame.attrs["failures"] = failures
    import pandas
    frame["cik"] = pandas.to_numeric(frame["cik"], errors="coerce").astype("Int64")
    for column in ("fiscal_year_end", "period_start", "period_end"):
        frame[column] = _dates(pandas, frame[column])
    frame["months"] = frame["months"].astype("int64")
    for column in ("derived", "period_type_conflict", "restated"):
        frame[column] = frame[column] == "1"
    frame["vintages"] = pandas.to_numeric(frame["vintages"].where(frame["vintages"] != ""),
                                          errors="coerce").astype("Int64")
    for column in ("multiplier",) + _CONCEPT_COLUMNS:
        frame[column] = _numbers(pandas, frame[column])
    return _typed_tags(pandas, frame, frame.columns[len(PANEL_COLUMNS):])


# ---- A Quorlix database ----

_DATABASE_TABLES = ("wide", "facts", "schedules", "submissions", "inputs", "tag_dictionary", "quorlix_meta")


def read_database(path: PathArg, table: str = "wide", article: str | None = None):
    """A table of a database that `quorlix schedules -o FILE.sqlite` (or --update) wrote, as a DataFrame.

    table    "wide": the schedules with one column per dictionary tag of their
             article (the views wide_5, wide_9, ...; article picks one, else the
             schedules of every article, with the columns of all); or one of
             "facts", "schedules", "submissions", "inputs", "tag_dictionary",
             "quorlix_meta" as stored (article picks the schedules and facts of one)
    article  5, 6, 7, 9, UT or BD (case and leading zeros do not matter), or None

    The database is opened read-only; one being updated can be read meanwhile.
    Raises ValueError for another table or an article without a view, and
    QuorlixFormatError for a file that is no Quorlix database or is of a newer
    format. Needs pandas.
    """
    import sqlite3
    pandas = _pandas("read_database")
    if table not in _DATABASE_TABLES:
        raise ValueError(f"table must be one of {', '.join(_DATABASE_TABLES)}, not {table!r}")
    normal = None if article is None else str(article).upper().lstrip("0")
    uri = "file:" + os.path.abspath(os.fsdecode(path)).replace("?", "%3f").replace("#", "%23") + "?mode=ro"
    try:
        connection = sqlite3.connect(uri, uri=True)
    except sqlite3.Error as error:
        raise QuorlixFormatError("read_database", 0, f"cannot open '{os.fsdecode(path)}': {error}",
                                 os.fsdecode(path)) from error
    try:
        try:
            version = connection.execute("SELECT value FROM quorlix_meta WHERE key = 'format_version'").fetchone()
        except sqlite3.Error:
            version = None
        if version is None or not str(version[0]).isdigit() or int(version[0]) > _DATABASE_FORMAT:
            reason = "no Quorlix database" if version is None else f"of database format {version[0]}, newer than {_DATABASE_FORMAT}"
            raise QuorlixFormatError("read_database", 0, f"'{os.fsdecode(path)}' is {reason}", os.fsdecode(path))
        if table == "wide":
            views = [row[0] for row in connection.execute(
                "SELECT name FROM sqlite_master WHERE type = 'view' AND name LIKE 'wide\\_%' ESCAPE '\\' ORDER BY rowid")]
            if normal is not None:
                view = "wide_" + normal.lower()
                if view not in views:
                    raise ValueError(f"the database has no view of article {article!r}")
                views = [view]
            frames = [pandas.read_sql_query(f'SELECT * FROM "{view}" ORDER BY schedule_id', connection)
                      for view in views]
            frames = [frame for frame in frames if len(frame)] or frames[:1]
            return pandas.concat(frames, ignore_index=True) if len(frames) > 1 else frames[0]
        where, parameters = "", ()
        if normal is not None and table in ("schedules", "facts"):
            where = " WHERE ltrim(upper(article), '0') = ?" if table == "schedules" else \
                " WHERE schedule_id IN (SELECT id FROM schedules WHERE ltrim(upper(article), '0') = ?)"
            parameters = (normal,)
        return pandas.read_sql_query(f"SELECT * FROM {table}{where}", connection, params=parameters)
    finally:
        connection.close()
