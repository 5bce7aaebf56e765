"""Finding and loading the shared library, once per process.

The library is looked for in this order: the file named by the QUORLIX_LIBRARY
environment variable, the system's loader (ctypes.util.find_library, which finds
an installed libquorlix.so.1), then a library installed beside this package.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from pathlib import Path
from typing import Iterator

ENV_VARIABLE = "QUORLIX_LIBRARY"

# On 32-bit Windows the exports use the standard call convention.
_IS_WIN32_STDCALL = sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4
_LOADER = ctypes.WinDLL if _IS_WIN32_STDCALL else ctypes.CDLL  # type: ignore[attr-defined]
_NAMES_BESIDE = ("QUORLIX.dll", "quorlix.dll") if sys.platform == "win32" else (
    "libquorlix.so.1", "libquorlix.so", "libquorlix.dylib")


class LibraryNotFoundError(ImportError):
    """No usable quorlix library was found; the message lists every place searched."""


_lock = threading.Lock()
_handle: ctypes.CDLL | None = None


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    c_char_p, c_int = ctypes.c_char_p, ctypes.c_int
    signatures = {
        "CvtCRLF": (c_char_p, c_char_p, c_int),
        "CvtHTMLtoText": (c_char_p, c_char_p, c_int),
        "CvtDecodeFiling": (c_char_p, c_char_p, c_char_p),
        "CvtVerifyFile": (c_char_p,),
        "CvtDelimitedFile": (c_char_p,) * 6,
        "CvtDLLVersion": (),
    }
    for name, argtypes in signatures.items():
        function = getattr(lib, name)
        function.argtypes = argtypes
        function.restype = c_int
    global _last_failure
    _last_failure = getattr(lib, "quorlix_last_failure", None)
    if _last_failure is not None:
        _last_failure.argtypes = (ctypes.POINTER(Failure),)
        _last_failure.restype = c_int
    return lib


# ---- Why the calling thread's last call failed (libquorlix.so only) ----

class Failure(ctypes.Structure):
    """quorlix_failure: the cause, errno and file of the last failed call, and its words."""
    _fields_ = [("status", ctypes.c_int), ("cause", ctypes.c_int), ("error_number", ctypes.c_int),
                ("file", ctypes.c_int), ("operation", ctypes.c_int), ("input_bytes", ctypes.c_ulonglong),
                ("limit_bytes", ctypes.c_ulonglong), ("wanted", ctypes.c_char * 160), ("found", ctypes.c_char * 96),
                ("detail", ctypes.c_char * 256)]

    @property
    def words(self) -> str:
        """The library's words for the failure (a mismatch, an input too large), or ""."""
        return self.detail.decode("utf-8", "replace")


_last_failure = None  # quorlix_last_failure once declared; None where the library has none


def last_failure() -> Failure | None:
    """The calling thread's last failure; call it right after the export, on the
    same thread. None with a library that does not record failures (a Windows DLL)."""
    if _last_failure is None:
        return None
    failure = Failure()
    _last_failure(ctypes.byref(failure))
    return failure


# ---- The schedules' table (libquorlix.so 1.2 and later; QUORLIX.dll has no such export) ----

SCHEDULES_LONG = 0
SCHEDULES_WIDE = 1
SCHEDULES_PANEL = 2
VINTAGES = {"first": 0, "latest": 1}
SCHEDULES_STATUS_NAMES = {20: "a bad argument", 21: "the table could not be written", 22: "stopped",
                          23: "not enough memory", 24: "a callback threw"}


class ScheduleInput(ctypes.Structure):
    """QUORLIX_SCHEDULES_INPUT: what the library reports of one input (the fields of libquorlix.so 1.2)."""
    _fields_ = [("index", ctypes.c_size_t), ("path", ctypes.c_char_p), ("status", ctypes.c_int),
                ("bytes", ctypes.c_uint64), ("schedules", ctypes.c_uint64), ("values", ctypes.c_uint64),
                ("seconds", ctypes.c_double), ("packing", ctypes.c_int), ("members", ctypes.c_uint64),
                ("filings", ctypes.c_uint64), ("filings_with_schedules", ctypes.c_uint64),
                ("first_index", ctypes.c_size_t), ("problem", ctypes.c_char_p),
                ("failure", ctypes.POINTER(Failure))]


class ScheduleOptions(ctypes.Structure):
    """QUORLIX_SCHEDULES_OPTIONS: a run's settings; size first, every field 0 by default."""
    _fields_ = [("size", ctypes.c_size_t), ("vintage", ctypes.c_int), ("spreadsheet_safe", ctypes.c_int),
                ("max_columns", ctypes.c_size_t), ("other_tags", ctypes.POINTER(ctypes.c_uint64))]

    def __init__(self, **fields):
        super().__init__(size=ctypes.sizeof(ScheduleOptions), **fields)


WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t)
INPUT_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ScheduleInput))


def write_schedules_ex():
    """quorlix_write_schedules_ex of the loaded library, declared; raises LibraryNotFoundError
    when the library is older than 1.2 or a Windows DLL."""
    lib = load()
    function = getattr(lib, "quorlix_write_schedules_ex", None)
    if function is None:
        raise LibraryNotFoundError("the loaded quorlix library has no quorlix_write_schedules_ex: "
                                   "libquorlix.so 1.2.0 or later is needed", name="quorlix")
    function.argtypes = (ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t, ctypes.c_int, ctypes.c_uint,
                         ctypes.POINTER(ScheduleOptions), WRITE_FN, ctypes.c_void_p, INPUT_FN, ctypes.c_void_p)
    function.restype = ctypes.c_int
    return function


# ---- The batch engine (quorlix_batch.h; libquorlix.so only) ----

BATCH_LIST, BATCH_CRLF, BATCH_HTML, BATCH_FILING, BATCH_VERIFY, BATCH_DELIMITED, BATCH_SCHEDULES = range(7)
BATCH_TABLE_TO_WRITE = 0
BATCH_WALK_EVERY_FILE = 1
BATCH_DONE, BATCH_STOPPED, BATCH_REFUSED, BATCH_BAD_CALL, BATCH_NO_MEMORY = range(5)
BATCH_SKIP_INSIDE_OUTPUT = 1
BATCH_NOTE_INPUT_PACKED, BATCH_NOTE_OUTPUT_PACKED, BATCH_NOTE_OUTPUT_IS_FILING = 1, 2, 3
BATCH_NOTE_NO_PRIVATE_FOLDER, BATCH_NOTE_OUTPUT_NOT_PLACED = 4, 5
BATCH_REFUSED_COLLISION = 4
BATCH_REFUSED_OUT_DIR_IS_FILE = 7


class BatchConversion(ctypes.Structure):
    _fields_ = [("which", ctypes.c_int), ("flag", ctypes.c_int), ("in_record", ctypes.c_char_p),
                ("in_field", ctypes.c_char_p), ("out_field", ctypes.c_char_p), ("out_record", ctypes.c_char_p)]


NEXT_LISTED_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p),
                                  ctypes.POINTER(ctypes.c_size_t))


class BatchTable(ctypes.Structure):
    """quorlix_batch_table: where a QUORLIX_BATCH_SCHEDULES batch's table goes, and its status."""
    _fields_ = [("form", ctypes.c_int), ("options", ctypes.POINTER(ScheduleOptions)), ("to", ctypes.c_int),
                ("write", WRITE_FN), ("write_context", ctypes.c_void_p), ("path", ctypes.c_char_p),
                ("database_flags", ctypes.c_int), ("database_summary", ctypes.c_void_p), ("status", ctypes.c_int)]


class BatchSettings(ctypes.Structure):
    _fields_ = [("conversion", BatchConversion), ("named", ctypes.POINTER(ctypes.c_char_p)),
                ("named_count", ctypes.c_size_t), ("next_listed", NEXT_LISTED_FN), ("listed_context", ctypes.c_void_p),
                ("out_dir", ctypes.c_char_p), ("outputs", ctypes.POINTER(ctypes.c_char_p)), ("walk", ctypes.c_int), ("reserved", ctypes.POINTER(ctypes.c_char_p)),
                ("reserved_count", ctypes.c_size_t), ("jobs", ctypes.c_uint), ("resume", ctypes.c_int),
                ("force", ctypes.c_int), ("table", ctypes.POINTER(BatchTable))]


class BatchRow(ctypes.Structure):
    _fields_ = [("index", ctypes.c_size_t), ("input", ctypes.c_char_p), ("relative_start", ctypes.c_size_t),
                ("outputs", ctypes.c_char_p * 2), ("output_count", ctypes.c_int), ("status", ctypes.c_int),
                ("outputs_present", ctypes.c_int), ("skip", ctypes.c_int), ("note", ctypes.c_int),
                ("note_output", ctypes.c_int), ("bytes_in", ctypes.c_ulonglong), ("seconds", ctypes.c_double),
                ("table_input", ctypes.POINTER(ScheduleInput)), ("failure", Failure)]


class BatchRefusal(ctypes.Structure):
    _fields_ = [("reason", ctypes.c_int), ("input", ctypes.c_char_p), ("input2", ctypes.c_char_p),
                ("output", ctypes.c_char_p)]


ROW_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(BatchRow))
PROGRESS_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
INSPECT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p)
REFUSED_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(BatchRefusal))
START_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t)


class BatchCallbacks(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("row", ROW_FN), ("progress", PROGRESS_FN), ("inspect", INSPECT_FN),
                ("refused", REFUSED_FN), ("start", START_FN)]


class BatchRefusedError(Exception):
    """The engine refused a batch before any work; args[0] is its BatchRefusal's fields."""


def _call_batch(settings: BatchSettings, take_row) -> None:
    """quorlix_run_batch with settings, each row to take_row(row) (nonzero stops);
    raises as run_batch says."""
    function = getattr(load(), "quorlix_run_batch", None)
    if function is None:
        raise LibraryNotFoundError("the loaded quorlix library has no batch engine (quorlix_run_batch): "
                                   "libquorlix.so 1.2.0 or later is needed", name="quorlix")
    function.argtypes = (ctypes.POINTER(BatchSettings), ctypes.POINTER(BatchCallbacks), ctypes.c_void_p)
    function.restype = ctypes.c_int
    refusal: list[tuple] = []

    def on_row(_context, pointer):
        return take_row(pointer.contents)

    def on_refused(_context, pointer):
        told = pointer.contents
        refusal.append((told.reason, told.input, told.input2, told.output))

    callbacks = BatchCallbacks(row=ROW_FN(on_row), refused=REFUSED_FN(on_refused))
    result = function(ctypes.byref(settings), ctypes.byref(callbacks), None)
    if result == BATCH_REFUSED:
        raise BatchRefusedError(refusal[0] if refusal else (0, b"", b"", b""))
    if result == BATCH_NO_MEMORY:
        raise MemoryError("the quorlix library ran out of memory in a batch")
    if result not in (BATCH_DONE, BATCH_STOPPED):
        raise ValueError(f"quorlix_run_batch refused its settings ({result})")


def run_batch(which: int, named: list[bytes], out_dir: bytes | None, *, flag: int = 0, walk: int = 0, jobs: int = 1,
              force: bool = False, delimiters: tuple[bytes | None, ...] = (None,) * 4,
              outputs: list[bytes] | None = None, on_row=None) -> list[tuple]:
    """quorlix_run_batch over named (files and folders), or with outputs (the
    conversion's count per input) over named files: one tuple per input, in
    input order: (input, relative_start, outputs, status, skip, note, note_output,
    bytes_in, seconds, error_number, failure), failure being the library's
    record of the input's call (a Failure). on_row, if given, sees each row as it
    comes, on the calling thread; a true return stops the batch (the inputs in
    flight are finished). Raises BatchRefusedError with (reason,
    input, input2, output) when the batch is refused, LibraryNotFoundError
    without the engine, MemoryError when the library ran out of memory."""
    paths = (ctypes.c_char_p * max(1, len(named)))(*named)
    named_outputs = None if outputs is None else (ctypes.c_char_p * max(1, len(outputs)))(*outputs)
    conversion = BatchConversion(which, flag, *delimiters)
    settings = BatchSettings(conversion=conversion, named=paths, named_count=len(named), out_dir=out_dir,
                             outputs=named_outputs, walk=walk, jobs=jobs, force=int(force))
    rows: list[tuple] = []

    def take_row(row):
        rows.append((row.input, row.relative_start, tuple(row.outputs[k] for k in range(row.output_count)),
                     row.status, row.skip, row.note, row.note_output, row.bytes_in, row.seconds,
                     row.failure.error_number, Failure.from_buffer_copy(row.failure)))
        return 1 if on_row is not None and on_row(rows[-1]) else 0

    _call_batch(settings, take_row)
    return rows


def output_names(which: int, out_dir: bytes, relative: bytes) -> tuple[bytes, ...]:
    """The outputs the batch engine names for an input whose path below out_dir
    is relative (quorlix_batch_output_names), for the conversion which."""
    function = getattr(load(), "quorlix_batch_output_names", None)
    if function is None:
        raise LibraryNotFoundError("the loaded quorlix library does not name batch outputs "
                                   "(quorlix_batch_output_names)", name="quorlix")
    function.argtypes = (ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t)
    function.restype = ctypes.c_int
    # Two names, each the folder, the path and a suffix of at most ".fds.txt" ("unnamed" for none).
    buffer = ctypes.create_string_buffer(2 * (len(out_dir) + len(relative) + 32))
    count = function(which, out_dir, relative, buffer, len(buffer))
    if count < 0:
        raise ValueError(f"quorlix_batch_output_names refused conversion {which}")
    return tuple(buffer.raw.split(b"\0")[:count])


def output_in_the_way(filings: bool = True):
    """A function telling, of an existing output (bytes path), why it must not be
    replaced: the packing's words ("a gzip-compressed file"), "an EDGAR filing"
    when filings is true, or None. Without the library's probes (a Windows DLL),
    None always."""
    lib = load()
    packing = getattr(lib, "quorlix_file_packing", None)
    is_filing = getattr(lib, "quorlix_is_filing", None)
    if packing is None or is_filing is None:
        return lambda path: None
    packing.argtypes = (ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t)
    packing.restype = ctypes.c_int
    is_filing.argtypes = (ctypes.c_char_p,)
    is_filing.restype = ctypes.c_int
    packed_kinds = (1, 2)  # QUORLIX_PACKING_COMPRESSED, QUORLIX_PACKING_ARCHIVE

    def why(path: bytes):
        words = ctypes.create_string_buffer(128)
        if packing(path, words, len(words)) in packed_kinds:
            return words.value.decode("utf-8", "replace")
        return "an EDGAR filing" if filings and is_filing(path) == 1 else None

    return why


def _candidates() -> Iterator[tuple[str, str | None]]:
    """(where, what to load) in search order; what is None when that place had nothing.

    Each place is looked at only when the ones before it failed: find_library runs
    other programs, which a library named in the environment spares."""
    yield f"${ENV_VARIABLE}", os.environ.get(ENV_VARIABLE) or None
    yield "ctypes.util.find_library('quorlix')", ctypes.util.find_library("quorlix")
    beside = Path(__file__).resolve().parent
    found = next((beside / name for name in _NAMES_BESIDE if (beside / name).is_file()), None)
    yield f"beside the package in {beside}", str(found) if found else None


def load() -> ctypes.CDLL:
    """The loaded library, with the six exports declared; raises LibraryNotFoundError."""
    global _handle
    if _handle is not None:
        return _handle
    with _lock:
        if _handle is not None:
            return _handle
        tried = []
        for where, what in _candidates():
            if what is None:
                tried.append(f"  {where}: nothing there")
                continue
            try:
                _handle = _declare(_LOADER(what))
                return _handle
            except (OSError, AttributeError) as error:
                tried.append(f"  {where}: {what}: {error}")
                # A library named explicitly must load; falling back would hide the mistake.
                if where.startswith("$"):
                    break
        raise LibraryNotFoundError(
            "cannot load the quorlix library (libquorlix.so.1); searched:\n" + "\n".join(tried) +
            f"\nInstall the library, or set {ENV_VARIABLE} to the path of libquorlix.so.",
            name="quorlix")


def run_table(named: list[bytes], form: int, jobs: int, options: ScheduleOptions, write, on_input) -> int:
    """quorlix_run_batch with the schedules' table: named files and folders walked
    as the batch forms walk them, every input read once into the table, which
    goes to write (a WRITE_FN). on_input(path, ScheduleInput, Failure) sees each
    input read, in input order, with the library's record of a failure. Returns
    the table's status (QUORLIX_SCHEDULES_*); raises
    BatchRefusedError when the batch is refused (no inputs), LibraryNotFoundError
    without the engine, MemoryError when the library ran out of memory."""
    paths = (ctypes.c_char_p * max(1, len(named)))(*named)
    table = BatchTable(form=form, options=ctypes.pointer(options), to=BATCH_TABLE_TO_WRITE, write=write, status=-1)
    settings = BatchSettings(conversion=BatchConversion(BATCH_SCHEDULES), named=paths, named_count=len(named),
                             jobs=jobs, table=ctypes.pointer(table))

    def take_row(row):
        if row.table_input:
            # The record is copied: the row lives only during the call.
            on_input(row.input, row.table_input.contents, Failure.from_buffer_copy(row.failure))
        return 0

    _call_batch(settings, take_row)
    return table.status
