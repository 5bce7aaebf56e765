"""Statuses as exceptions, with the words the quorlix tool prints for each.

MESSAGES holds the tool's words for every (export, status) pair with the same
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

MESSAGES: dict[tuple[str, int], str] = {
    (CRLF, 2): "cannot read input file '{in}' (or not enough memory)",
    (CRLF, 3): "input file '{in}' not found",
    (CRLF, 5): "cannot create output file '{out}': not found",
    (CRLF, 6): "cannot create or write output file '{out}'",
    (CRLF, 7): "too many open files",
    (CRLF, 18): "converting '{in}' failed: not enough memory",

    (HTML, 2): "cannot read input file '{in}' (or not enough memory)",
    (HTML, 3): "input file '{in}' not found",
    (HTML, 5): "cannot create output file '{out}': not found",
    (HTML, 6): "cannot create or write output file '{out}'",
    (HTML, 7): "too many open files",
    (HTML, 10): "input name '{in}' must end in .htm or .html, and output name '{out}' in .txt or .wri",
    (HTML, 11): "output name '{out}' must end in .txt or .wri",
    (HTML, 12): "input name '{in}' must end in .htm or .html",
    (HTML, 13): "no body found in '{in}' (upper-case <BODY> and </BODY> tags, every '<' closed by '>'), "
                "or not enough memory",
    (HTML, 14): "rendering the body of '{in}' failed (a digit reference without ';', </BODY> before <BODY>, "
                "or not enough memory)",
    (HTML, 15): "a table in '{in}' is not closed before the body ends, or not enough memory",
    (HTML, 16): "a table row in '{in}' is not closed before the body ends, or not enough memory",

    (FILING, 2): "file error on '{in}', '{out}' or '{out2}' (bad path, disk full, an output naming the filing, "
                 "or both outputs one file)",
    (FILING, 3): "filing '{in}' not found",
    (FILING, 7): "too many open files",
    (FILING, 18): "decoding '{in}' failed: not enough memory",

    # The tool prints these after the file's name, as "NAME: words".
    (VERIFY, 2): "cannot be read (or not enough memory)",
    (VERIFY, 3): "not found",
    (VERIFY, 7): "too many open files",
    (VERIFY, 17): "unknown suffix",
    (VERIFY, 18): "contents do not match {suffix}{memory}",

    (DELIMITED, 1): "cannot open or read input file '{in}' (or not enough memory)",
    (DELIMITED, 2): "cannot open or write output file '{out}' (or it is the input file)",
    (DELIMITED, 3): "the input field delimiter is empty",
    (DELIMITED, 4): "the input record delimiter is empty",
    (DELIMITED, 5): "no record delimiter found in '{in}'",
    (DELIMITED, 6): "no record of '{in}' holds a field delimiter",
}


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
            key = (function, status)
            self.errno = (errno.ENOENT if key in _NOT_FOUND else
                          errno.EMFILE if key in _TOO_MANY_FILES else errno.EIO)
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


class QuorlixFormatError(QuorlixError):
    """The input does not have the form the conversion needs (no HTML body, no delimiter found)."""


_NOT_FOUND = {(CRLF, 3), (CRLF, 5), (HTML, 3), (HTML, 5), (FILING, 3), (VERIFY, 3)}
_TOO_MANY_FILES = {(CRLF, 7), (HTML, 7), (FILING, 7), (VERIFY, 7)}
_FILE_ERROR = {(CRLF, 2), (CRLF, 6), (HTML, 2), (HTML, 6), (FILING, 2), (VERIFY, 2),
               (DELIMITED, 1), (DELIMITED, 2)}
_BAD_ARGUMENT = {(HTML, 10), (HTML, 11), (HTML, 12), (VERIFY, 17), (DELIMITED, 3), (DELIMITED, 4)}
_NO_MEMORY = {(CRLF, 18), (FILING, 18)}


def _class_for(key: tuple[str, int]) -> type[QuorlixError]:
    if key in _NOT_FOUND:
        return QuorlixFileNotFoundError
    if key in _TOO_MANY_FILES or key in _FILE_ERROR:
        return QuorlixOSError
    if key in _BAD_ARGUMENT:
        return QuorlixValueError
    if key in _NO_MEMORY:
        return QuorlixMemoryError
    return QuorlixFormatError


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


def describe(function: str, status: int, files: tuple[str, ...] = ()) -> str:
    """The tool's words for a status, its placeholders filled in from the call's files."""
    names = tuple(files) + ("",) * (3 - len(files))
    template = MESSAGES.get((function, status), "failed")
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
    cls = _class_for((function, status))
    return cls(function, status, describe(function, status, files), files[0] if files else None)


def display_name(path: str | bytes | os.PathLike) -> str:
    """A path as the messages show it."""
    return os.fsdecode(path)
