"""The six exports with Python conventions: paths of any kind in, exceptions out."""
from __future__ import annotations

import os
import sys
from typing import Union

from . import _library
from ._errors import CRLF, DELIMITED, FILING, HTML, VERIFY, display_name, error_for

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Delimiter = Union[str, bytes]

_VERIFY_MISMATCH = 18


_FS_ENCODING = sys.getfilesystemencoding()
_FS_ERRORS = sys.getfilesystemencodeerrors()


def _path_bytes(path: PathArg) -> bytes:
    """A path as the library takes it: str in the file-system encoding, bytes as given."""
    # os.fsencode's own steps for a str, without its Python-level call: batches
    # encode three paths per file while holding the GIL.
    raw = path.encode(_FS_ENCODING, _FS_ERRORS) if type(path) is str else os.fsencode(path)
    if b"\0" in raw:
        raise ValueError(f"path {display_name(path)!r} holds a NUL byte")
    return raw


def _delimiter_bytes(delimiter: Delimiter, what: str) -> bytes:
    """A delimiter as the library takes it: str in Windows-1252, bytes as given."""
    if isinstance(delimiter, str):
        raw = delimiter.encode("cp1252")
    elif isinstance(delimiter, (bytes, bytearray)):
        raw = bytes(delimiter)
    else:
        # bytes() of an int would be that many NUL bytes, of a list its items.
        raise TypeError(f"{what} must be str or bytes, not {type(delimiter).__name__}")
    if b"\0" in raw:
        raise ValueError(f"{what} holds a NUL byte, which would end it early")
    return raw


DELIMITER_KEYWORDS = ("in_record", "in_field", "out_field", "out_record")


def _check(function: str, status: int, paths: tuple[PathArg, ...]) -> None:
    """Raises the error of a failed call; call it right after the export, on the
    same thread, so that the library's record of the failure is this call's."""
    if status != 0:
        raise error_for(function, status, tuple(display_name(p) for p in paths), _library.last_failure())


def crlf(src: PathArg, dst: PathArg, *, skip_blank: bool = False) -> None:
    """Rewrite the text file src as dst with CR LF line ends, keeping printable ASCII only.

    Every line break (CR LF, lone LF, lone CR) becomes CR LF; every other byte
    outside 0x20-0x7E, tabs included, is removed. skip_blank also drops empty
    lines. dst may name src, which is then replaced. Raises QuorlixError (or
    a subclass such as FileNotFoundError) on failure.
    """
    status = _library.load().CvtCRLF(_path_bytes(src), _path_bytes(dst), 1 if skip_blank else 0)
    _check(CRLF, status, (src, dst))


def html_to_text(src: PathArg, dst: PathArg, *, tables_only: bool = False) -> None:
    """Render the body of the HTML page src (.htm or .html) as text in dst (.txt or .wri).

    Tables become lines of comma-separated cells; tables_only writes the tables
    alone. Only upper-case tags are recognised. A wrong suffix raises a
    ValueError-compatible QuorlixError; dst is untouched by every failure.
    """
    status = _library.load().CvtHTMLtoText(_path_bytes(src), _path_bytes(dst), 1 if tables_only else 0)
    _check(HTML, status, (src, dst))


def decode_filing(src: PathArg, text_dst: PathArg, schedule_dst: PathArg) -> None:
    """Decode the EDGAR filing src into readable text (text_dst) and its schedule rows (schedule_dst).

    The schedule output holds the Financial Data Schedule rows laid out in two
    columns; read_schedule and schedule_values read it back as data.
    """
    status = _library.load().CvtDecodeFiling(_path_bytes(src), _path_bytes(text_dst), _path_bytes(schedule_dst))
    _check(FILING, status, (src, text_dst, schedule_dst))


def verify(path: PathArg) -> bool:
    """True when the contents of path agree with the type its suffix claims, False when they do not.

    Every other outcome raises: a missing file (FileNotFoundError-compatible), an
    unknown suffix (ValueError-compatible), an unreadable file (OSError-compatible).
    """
    status = _library.load().CvtVerifyFile(_path_bytes(path))
    if status == _VERIFY_MISMATCH:
        return False
    _check(VERIFY, status, (path,))
    return True


def convert_delimited(src: PathArg, dst: PathArg, *, in_record: Delimiter = "\r\n", in_field: Delimiter = ",",
                      out_field: Delimiter = "\t", out_record: Delimiter = "\r\n") -> None:
    """Rewrite the delimited file src as dst with other delimiters.

    Records are cut at in_record and fields at in_field; each field but a
    record's last is followed by out_field, each record by out_record. str
    delimiters are encoded as Windows-1252 (the library takes them so), bytes
    are passed as given. An empty input delimiter raises a ValueError-compatible
    QuorlixError; an input without any record or field delimiter raises
    QuorlixFormatError after writing dst.
    """
    delimiters = [_delimiter_bytes(d, name)
                  for d, name in zip((in_record, in_field, out_field, out_record), DELIMITER_KEYWORDS)]
    status = _library.load().CvtDelimitedFile(_path_bytes(src), delimiters[0], delimiters[1], _path_bytes(dst),
                                              delimiters[2], delimiters[3])
    _check(DELIMITED, status, (src, dst))


def library_version() -> int:
    """The library's version number (103)."""
    return int(_library.load().CvtDLLVersion())
