"""Statuses as exceptions, with the words the quorlix tool prints for each.

One table holds every (export, status) pair: the exception it raises and the
tool's words for it. MESSAGES, drawn from it, holds those words with the same
placeholders ({in}, {out}, {out2}, {suffix}, {memory}), and NOT_REGULAR the words
for an input that is not a regular file; a test compares both with the tool's
own tables so that the two cannot drift apart.
"""
from __future__ import annotations

import errno
import os
import stat

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

    def __init__(self, function: str, status: int, message: str, filename: str | None = None) -> None:
        super().__init__(message)
        self.function = function
        self.status = status
        self.message = message
        self.filename = filename
        if isinstance(self, OSError):
            self.errno = _kind_of((function, status))[1] or errno.EIO
            self.strerror = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self):
        # Executors in other processes send exceptions back by pickling them.
        return (_rebuild, (type(self), self.function, self.status, self.message, self.filename))


def _rebuild(cls, function, status, message, filename):
    return cls(function, status, message, filename)


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


# The kinds of failure: the exception each raises and, for an OSError, its errno.
_NOT_FOUND = (QuorlixFileNotFoundError, errno.ENOENT)
_TOO_MANY_FILES = (QuorlixOSError, errno.EMFILE)
_FILE_ERROR = (QuorlixOSError, errno.EIO)
_BAD_ARGUMENT = (QuorlixValueError, None)
_NO_MEMORY = (QuorlixMemoryError, None)
_BAD_FORM = (QuorlixFormatError, None)

# Every status of every export: its kind of failure and the tool's words.
_STATUSES: dict[tuple[str, int], tuple[tuple[type[QuorlixError], int | None], str]] = {
    (CRLF, 2): (_FILE_ERROR, "cannot read input file '{in}' (or not enough memory)"),
    (CRLF, 3): (_NOT_FOUND, "input file '{in}' not found"),
    (CRLF, 5): (_NOT_FOUND, "cannot create output file '{out}': not found"),
    (CRLF, 6): (_FILE_ERROR, "cannot create or write output file '{out}'"),
    (CRLF, 7): (_TOO_MANY_FILES, "too many open files"),
    (CRLF, 18): (_NO_MEMORY, "converting '{in}' failed: not enough memory"),

    (HTML, 2): (_FILE_ERROR, "cannot read input file '{in}' (or not enough memory)"),
    (HTML, 3): (_NOT_FOUND, "input file '{in}' not found"),
    (HTML, 5): (_NOT_FOUND, "cannot create output file '{out}': not found"),
    (HTML, 6): (_FILE_ERROR, "cannot create or write output file '{out}'"),
    (HTML, 7): (_TOO_MANY_FILES, "too many open files"),
    (HTML, 10): (_BAD_ARGUMENT,
                 "input name '{in}' must end in .htm or .html, and output name '{out}' in .txt or .wri"),
    (HTML, 11): (_BAD_ARGUMENT, "output name '{out}' must end in .txt or .wri"),
    (HTML, 12): (_BAD_ARGUMENT, "input name '{in}' must end in .htm or .html"),
    (HTML, 13): (_BAD_FORM, "no body found in '{in}' (upper-case <BODY> and </BODY> tags, every '<' closed by '>'), "
                            "or not enough memory"),
    (HTML, 14): (_BAD_FORM, "rendering the body of '{in}' failed (a digit reference without ';', "
                            "</BODY> before <BODY>, or not enough memory)"),
    (HTML, 15): (_BAD_FORM, "a table in '{in}' is not closed before the body ends, or not enough memory"),
    (HTML, 16): (_BAD_FORM, "a table row in '{in}' is not closed before the body ends, or not enough memory"),

    (FILING, 2): (_FILE_ERROR, "file error on '{in}', '{out}' or '{out2}' (bad path, disk full, "
                               "an output naming the filing, or both outputs one file)"),
    (FILING, 3): (_NOT_FOUND, "filing '{in}' not found"),
    (FILING, 7): (_TOO_MANY_FILES, "too many open files"),
    (FILING, 18): (_NO_MEMORY, "decoding '{in}' failed: not enough memory"),

    # The tool prints these after the file's name, as "NAME: words".
    (VERIFY, 2): (_FILE_ERROR, "cannot be read (or not enough memory)"),
    (VERIFY, 3): (_NOT_FOUND, "not found"),
    (VERIFY, 7): (_TOO_MANY_FILES, "too many open files"),
    (VERIFY, 17): (_BAD_ARGUMENT, "unknown suffix"),
    (VERIFY, 18): (_BAD_FORM, "contents do not match {suffix}{memory}"),

    (DELIMITED, 1): (_FILE_ERROR, "cannot open or read input file '{in}' (or not enough memory)"),
    (DELIMITED, 2): (_FILE_ERROR, "cannot open or write output file '{out}' (or it is the input file)"),
    (DELIMITED, 3): (_BAD_ARGUMENT, "the input field delimiter is empty"),
    (DELIMITED, 4): (_BAD_ARGUMENT, "the input record delimiter is empty"),
    (DELIMITED, 5): (_BAD_FORM, "no record delimiter found in '{in}'"),
    (DELIMITED, 6): (_BAD_FORM, "no record of '{in}' holds a field delimiter"),
    (SCHEDULES, 2): (_FILE_ERROR, "cannot read filing '{in}' (a folder, a bad path, "
                                  "or a file that changed while it was read)"),
    (SCHEDULES, 3): (_NOT_FOUND, "filing '{in}' not found"),
    (SCHEDULES, 7): (_TOO_MANY_FILES, "too many open files"),
    (SCHEDULES, 18): (_NO_MEMORY, "reading the schedules of '{in}' failed: not enough memory"),
}

MESSAGES: dict[tuple[str, int], str] = {key: words for key, (_, words) in _STATUSES.items()}


def _kind_of(key: tuple[str, int]) -> tuple[type[QuorlixError], int | None]:
    row = _STATUSES.get(key)
    return row[0] if row else _BAD_FORM


def _suffix_of(name: str) -> str:
    base = name.replace("\\", "/").rsplit("/", 1)[-1]
    dot = base.rfind(".")
    return base[dot:].lower() if dot >= 0 else ""

# The input error of each export, when its input exists but is neither a regular
# file nor a folder (a pipe, FIFO, device or socket): that is the cause.
NOT_REGULAR: dict[tuple[str, int], str] = {
    (CRLF, 2): "input file '{in}' is not a regular file",
    (HTML, 2): "input file '{in}' is not a regular file",
    (FILING, 2): "filing '{in}' is not a regular file",
    (VERIFY, 2): "not a regular file",
    (DELIMITED, 1): "input file '{in}' is not a regular file",
    (SCHEDULES, 2): "filing '{in}' is not a regular file",
}


def _is_special_file(name: str) -> bool:
    try:
        mode = os.stat(name).st_mode
    except (OSError, ValueError):
        return False
    return not stat.S_ISREG(mode) and not stat.S_ISDIR(mode)


def _memory_note_for(suffix: str) -> str:
    # Only the text types are read whole by the verification, so only their
    # mismatch can also be a failed allocation.
    return " (or not enough memory)" if suffix in (".txt", ".htm", ".html") else ""


# The line-end conversion's output, up to twice its input, has a 32-bit length: a
# longer input fails with its memory status before a byte is read.
CRLF_LONGEST_INPUT = 0x7FFFFFFF
TOO_LARGE = "'{in}' is {size} bytes, more than the line-end conversion takes (2147483647 bytes)"


def _too_large(function: str, status: int, name: str) -> int:
    """The size of an input that failed for its size alone, else 0."""
    if (function, status) != (CRLF, 18) or not name:
        return 0
    try:
        size = os.stat(name).st_size
    except (OSError, ValueError):
        return 0
    return size if size > CRLF_LONGEST_INPUT else 0


def describe(function: str, status: int, files: tuple[str, ...] = ()) -> str:
    """The tool's words for a status, its placeholders filled in from the call's files."""
    names = tuple(files) + ("",) * (3 - len(files))
    template = MESSAGES.get((function, status), "failed")
    size = _too_large(function, status, names[0])
    if size:
        template = TOO_LARGE.replace("{size}", str(size))
    if (function, status) in NOT_REGULAR and names[0] and _is_special_file(names[0]):
        template = NOT_REGULAR[(function, status)]
    words = (template.replace("{in}", names[0]).replace("{out}", names[1])
             .replace("{out2}", names[2]).replace("{suffix}", _suffix_of(names[0]))
             .replace("{memory}", _memory_note_for(_suffix_of(names[0]))))
    if function == VERIFY:
        words = f"{names[0]}: {words}"
    return f"{words} (status {status})"


def error_for(function: str, status: int, files: tuple[str, ...] = ()) -> QuorlixError:
    """The exception that a status of an export raises."""
    cls = InputTooLargeError if _too_large(function, status, files[0] if files else "") else _kind_of((function, status))[0]
    return cls(function, status, describe(function, status, files), files[0] if files else None)


def display_name(path: str | bytes | os.PathLike) -> str:
    """A path as the messages show it."""
    return path if type(path) is str else os.fsdecode(path)
