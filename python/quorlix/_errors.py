"""Statuses as exceptions, with the words the quorlix tool prints for each.

status_words.tsv (the data file shared with the build) holds every (export, status) pair: the
exception it raises and the tool's words for it; the tool's table is generated
from the same file. MESSAGES holds those words with their placeholders ({in},
{out}, {out2}, {suffix}, {memory}), and NOT_REGULAR the words for an input that
is not a regular file. The library's record of a failed call (quorlix_last_failure)
says which cause holds and gives its own words for a mismatch or an input too large.
"""
from __future__ import annotations

import errno
import os

from ._data import data_file

CRLF = "CvtCRLF"
HTML = "CvtHTMLtoText"
FILING = "CvtDecodeFiling"
VERIFY = "CvtVerifyFile"
DELIMITED = "CvtDelimitedFile"
SCHEDULES = "quorlix_write_schedules"


class QuorlixError(Exception):
    """A conversion failed.

    status    the library's status number (its meaning depends on the export)
    function  the export that returned it, such as "CvtCRLF"
    str(e)    the tool's words for it, naming the files, and the number
    """

    def __init__(self, function: str, status: int, message: str, filename: str | None = None,
                 error_number: int | None = None) -> None:
        super().__init__(message)
        self.function = function
        self.status = status
        self.message = message
        self.filename = filename
        if isinstance(self, OSError):
            # The system's own errno where the library saw one, else the status's kind's.
            self.errno = error_number or _kind_of((function, status))[1] or errno.EIO
            self.strerror = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self):
        # Executors in other processes send exceptions back by pickling them.
        error_number = self.errno if isinstance(self, OSError) else None
        return (_rebuild, (type(self), self.function, self.status, self.message, self.filename, error_number))


def _rebuild(cls, function, status, message, filename, error_number=None):
    return cls(function, status, message, filename, error_number)


class QuorlixFileNotFoundError(QuorlixError, FileNotFoundError):
    """A file was not found (or an output's folder does not exist)."""


class QuorlixOSError(QuorlixError, OSError):
    """A file could not be opened, read or written, or too many files were open."""


class QuorlixValueError(QuorlixError, ValueError):
    """An argument was refused before any file was opened: a wrong suffix or an empty delimiter."""


class QuorlixMemoryError(QuorlixError, MemoryError):
    """The conversion ran out of memory."""


class InputTooLargeError(QuorlixError, ValueError):
    """The input is longer than the conversion can take (the line-end conversion: 2 GiB less one byte)."""


class QuorlixFormatError(QuorlixError):
    """The input does not have the form the conversion needs (no HTML body, no delimiter found)."""


class QuorlixCallbackError(QuorlixError, RuntimeError):
    """A callback handed to the library raised an exception, which the library caught."""


# The kinds of failure: the exception each raises and, for an OSError, its errno.
_NOT_FOUND = (QuorlixFileNotFoundError, errno.ENOENT)
_TOO_MANY_FILES = (QuorlixOSError, errno.EMFILE)
_FILE_ERROR = (QuorlixOSError, errno.EIO)
_BAD_ARGUMENT = (QuorlixValueError, None)
_NO_MEMORY = (QuorlixMemoryError, None)
_BAD_FORM = (QuorlixFormatError, None)
_CALLBACK_FAILED = (QuorlixCallbackError, None)

_KINDS = {"not_found": _NOT_FOUND, "too_many_files": _TOO_MANY_FILES, "file_error": _FILE_ERROR,
          "bad_argument": _BAD_ARGUMENT, "no_memory": _NO_MEMORY, "bad_form": _BAD_FORM,
          "callback_failed": _CALLBACK_FAILED}


def _read_status_words() -> tuple[dict, dict]:
    """The rows of status_words.tsv, the file the tool's table is generated from."""
    statuses, not_regular = {}, {}
    text = data_file("status_words.tsv").read_text(encoding="utf-8")
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        function, status, kind, words = line.split("\t")
        if kind == "not_regular":
            not_regular[(function, int(status))] = words
        else:
            statuses[(function, int(status))] = (_KINDS[kind], words)
    return statuses, not_regular


# Every status of every export: its kind of failure and the tool's words; and the
# input error of each export when its input exists but is neither a regular file
# nor a folder (a pipe, FIFO, device or socket): that is the cause.
_STATUSES, NOT_REGULAR = _read_status_words()

MESSAGES: dict[tuple[str, int], str] = {key: words for key, (_, words) in _STATUSES.items()}


def _kind_of(key: tuple[str, int]) -> tuple[type[QuorlixError], int | None]:
    row = _STATUSES.get(key)
    return row[0] if row else _BAD_FORM


def _suffix_of(name: str) -> str:
    base = name.replace("\\", "/").rsplit("/", 1)[-1]
    dot = base.rfind(".")
    return base[dot:].lower() if dot >= 0 else ""

# Causes of the library's record (quorlix_failure.h) that change the words or the class.
_CAUSE_SPECIAL_FILE = 4
_CAUSE_INPUT_TOO_LARGE = 8
_CAUSE_NO_MEMORY = 9
_FAILED_FILE_INPUT = 1


def _is_too_large(function: str, status: int, failure) -> bool:
    """An input refused for its length alone, as the library recorded it."""
    return failure is not None and failure.cause == _CAUSE_INPUT_TOO_LARGE and (function, status) == (CRLF, 18)


def _memory_note(failure) -> str:
    """verify's {memory}: the library's words for a mismatch, or that memory ran out."""
    if failure is None:
        return ""
    if failure.detail:
        return ": " + failure.words
    return " (or not enough memory)" if failure.cause == _CAUSE_NO_MEMORY else ""


def describe(function: str, status: int, files: tuple[str, ...] = (), failure=None) -> str:
    """The tool's words for a status, its placeholders filled in from the call's files.

    failure is the library's record of the call (_library.last_failure() right
    after it), which tells an input too large, a special file or a mismatch
    exactly; without one, the status's words stand."""
    names = tuple(files) + ("",) * (3 - len(files))
    template = MESSAGES.get((function, status), "failed")
    if _is_too_large(function, status, failure):
        template = "'{in}' is {detail}"
    if (function, status) in NOT_REGULAR and names[0]:
        if failure is not None and failure.cause == _CAUSE_SPECIAL_FILE and failure.file == _FAILED_FILE_INPUT:
            template = NOT_REGULAR[(function, status)]
    words = (template.replace("{in}", names[0]).replace("{out}", names[1])
             .replace("{out2}", names[2]).replace("{suffix}", _suffix_of(names[0]))
             .replace("{memory}", _memory_note(failure)))
    if failure is not None:
        words = words.replace("{detail}", failure.words)
    if function == VERIFY:
        words = f"{names[0]}: {words}"
    return f"{words} (status {status})"


def error_for(function: str, status: int, files: tuple[str, ...] = (), failure=None) -> QuorlixError:
    """The exception that a status of an export raises; failure (the library's
    record of the call) makes the class and the errno exact where it tells them."""
    if _is_too_large(function, status, failure):
        cls = InputTooLargeError
    elif failure is not None and failure.cause == _CAUSE_NO_MEMORY:
        cls = QuorlixMemoryError
    else:
        cls = _kind_of((function, status))[0]
    error_number = failure.error_number if failure is not None else 0
    return cls(function, status, describe(function, status, files, failure), files[0] if files else None,
               error_number or None)


def display_name(path: str | bytes | os.PathLike) -> str:
    """A path as the messages show it."""
    return path if type(path) is str else os.fsdecode(path)
