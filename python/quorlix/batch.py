"""Many conversions through any concurrent.futures.Executor.

The library keeps nothing between calls and ctypes releases the GIL during
each, so a thread pool runs conversions in parallel; a Dask distributed
Client's executor (client.get_executor()) runs them on a cluster whose workers
see the same file system. Every input gives one record, in input order; a
failure is a record, never an exception. Arguments that no conversion could
take (a path holding a NUL byte, a delimiter that is neither str nor bytes)
raise before any file is touched.

Outputs are written under private names in a private folder of their
destination folder and renamed into place when whole: a failed input leaves
nothing under a final name, and a link standing at a final name is replaced,
never written through. The library's batch engine (quorlix_batch.h) does the
work, as for the quorlix tool's batch forms: decode_filings and files_below
walk and name through it, and each of the executor's tasks hands it a group of
inputs; convert hands it the output names as given.
"""
from __future__ import annotations

import errno
import os
from time import perf_counter
from concurrent.futures import Executor, ThreadPoolExecutor
from functools import partial
from typing import Any, Callable, Iterable, NamedTuple, Optional, Sequence, Tuple

from . import _library
from ._convert import DELIMITER_KEYWORDS, _FS_ENCODING, _FS_ERRORS, PathArg, _delimiter_bytes, _path_bytes, \
    convert_delimited, crlf, decode_filing, html_to_text, verify
from ._errors import CRLF, DELIMITED, FILING, HTML, VERIFY, QuorlixError, describe, display_name

OK_MEANING = "ok"
SKIPPED_MEANING = "skipped: inside the output folder"
# Enough tasks per worker to balance uneven files, few enough that the
# executor's own cost per task stays small beside the conversions.
_TASKS_PER_WORKER = 8
_MAX_TASK_ITEMS = 256


class Record(NamedTuple):
    """The outcome of one input.

    input     the input path
    status    the library's status (0 = success); None when the input was skipped
              or failed outside the library (meaning then says why)
    meaning   "ok", or the words the quorlix tool prints for the status
    outputs   the output paths of the call
    bytes_in  the input's size (0 when it could not be measured)
    seconds   the time the call took
    """

    input: str
    status: Optional[int]
    meaning: str
    outputs: Tuple[str, ...]
    bytes_in: int
    seconds: float


# Record's own constructor is a Python function; _make builds the tuple directly.
_make_record = Record._make


class OutputCollisionError(ValueError):
    """Two inputs would write the same output; nothing was converted."""


def _size_of(path: PathArg) -> int:
    try:
        return os.stat(path).st_size
    except (OSError, ValueError):
        return 0


def _run_direct(func: Callable[..., Any], items: Sequence[tuple[int, tuple[PathArg, ...]]]) -> list[Record]:
    """convert's task for a callable the engine does not know (or arguments that
    do not fit its conversion): each call as it is, its outputs unstaged."""
    records = []
    for _, args in items:
        start = perf_counter()
        try:
            outcome = func(*args)
            if outcome is False and _is(func, verify):
                # verify returned at once: this thread's record is still its call's.
                status, meaning = 18, describe(VERIFY, 18, (display_name(args[0]),), _library.last_failure())
            else:
                status, meaning = 0, OK_MEANING
        except QuorlixError as error:
            status, meaning = error.status, error.message
        except Exception as error:  # noqa: BLE001 - one bad input must not end the batch
            status, meaning = None, f"{type(error).__name__}: {error}"
        source = args[0] if args else ""
        records.append(_make_record((display_name(source), status, meaning, tuple(map(display_name, args[1:])),
                                     _size_of(source), perf_counter() - start)))
    return records


def _is(func: Callable[..., Any], target: Callable[..., Any]) -> bool:
    return func is target or getattr(func, "func", None) is target


# What the engine calls for each conversion of this package: its number, the
# name its words go by, and how many outputs it writes.
_ENGINE_CONVERSIONS = {crlf: (_library.BATCH_CRLF, CRLF, 1), html_to_text: (_library.BATCH_HTML, HTML, 1),
                       decode_filing: (_library.BATCH_FILING, FILING, 2), verify: (_library.BATCH_VERIFY, VERIFY, 0),
                       convert_delimited: (_library.BATCH_DELIMITED, DELIMITED, 1)}
_FLAG_KEYWORDS = {crlf: "skip_blank", html_to_text: "tables_only"}
_DELIMITER_DEFAULTS = ("\r\n", ",", "\t", "\r\n")


class _EngineCall(NamedTuple):
    """How the engine runs one conversion with its options (picklable, for Dask)."""

    which: int
    function: str
    outputs: int
    flag: int
    delimiters: Tuple[Optional[bytes], ...]
    force: bool


def _engine_call(func: Callable[..., Any], force: bool) -> Optional[_EngineCall]:
    """The engine's form of func, a conversion of this package or a partial of
    one with keyword options; None for any other callable."""
    target = getattr(func, "func", func)
    if target not in _ENGINE_CONVERSIONS or getattr(func, "args", ()):
        return None
    which, function, outputs = _ENGINE_CONVERSIONS[target]
    keywords = dict(getattr(func, "keywords", None) or {})
    flag = int(bool(keywords.pop(_FLAG_KEYWORDS[target], False))) if target in _FLAG_KEYWORDS else 0
    delimiters: Tuple[Optional[bytes], ...] = (None,) * 4
    if target is convert_delimited:
        delimiters = tuple(_delimiter_bytes(keywords.pop(name, default), name)
                           for name, default in zip(DELIMITER_KEYWORDS, _DELIMITER_DEFAULTS))
    return None if keywords else _EngineCall(which, function, outputs, flag, delimiters, force)


def _convert_group(call: _EngineCall, items: Sequence[tuple[int, tuple[PathArg, ...]]]) -> list[Record]:
    """convert's task: its inputs through one engine call, the outputs as named."""
    group = [args for _, args in items]
    outputs = [_path_bytes(output) for args in group for output in args[1:]]
    rows = _library.run_batch(call.which, [_path_bytes(args[0]) for args in group], None, flag=call.flag,
                              delimiters=call.delimiters, outputs=outputs or [b""], force=call.force)
    return [_engine_record(call.function, args, row) for args, row in zip(group, rows)]


def _engine_record(function: str, args: tuple[PathArg, ...], row: tuple) -> Record:
    """A record from the engine's row: an output in the way says what it is (and
    fails with status 2); a failure of the batch's own file work gives the
    system's words."""
    names = tuple(map(display_name, args))
    status = row[3]
    note, note_output, bytes_in, seconds, error, failure = row[5:11]
    if status == 0:
        meaning = OK_MEANING
    elif note in (_library.BATCH_NOTE_OUTPUT_PACKED, _library.BATCH_NOTE_OUTPUT_IS_FILING):
        output = names[1 + note_output]
        words = "an EDGAR filing" if note == _library.BATCH_NOTE_OUTPUT_IS_FILING else \
            _library.output_in_the_way(filings=False)(_path_bytes(output))
        status, meaning = 2, f"'{output}' is {words}: force=True writes over it"
    else:
        own_work = note in (_library.BATCH_NOTE_NO_PRIVATE_FOLDER, _library.BATCH_NOTE_OUTPUT_NOT_PLACED)
        meaning = describe(function, status, names, None if own_work else failure)
        if note == _library.BATCH_NOTE_INPUT_PACKED:
            meaning += ": it is compressed or an archive; decompress it first"
        elif own_work and error:
            meaning += f": {os.strerror(error)}"
    return _make_record((names[0], status, meaning, names[1:], bytes_in, seconds))


def _decode_group(force: bool, items: Sequence[tuple[int, tuple[str, str, str]]]) -> list[Record]:
    """decode_filings's task: the record of each filing, through one engine call
    for each run of filings whose outputs share a folder (the folder is the
    call's output folder, so each filing is mirrored as its name)."""
    records: list[Record] = []
    start = 0
    while start < len(items):
        folder = os.path.dirname(items[start][1][1])
        end = start + 1
        while end < len(items) and os.path.dirname(items[end][1][1]) == folder:
            end += 1
        group = [item for _, item in items[start:end]]
        try:
            rows = _library.run_batch(_library.BATCH_FILING, [_fs_bytes(item[0]) for item in group],
                                      _fs_bytes(folder), force=force)
        except _library.BatchRefusedError as refused:
            if refused.args[0][0] != _library.BATCH_REFUSED_OUT_DIR_IS_FILE:
                raise
            # The folder the outputs go to is a file: each filing fails as the
            # engine fails one whose folder cannot be made.
            rows = [(None, 0, (), 2, 0, _library.BATCH_NOTE_NO_PRIVATE_FOLDER, 0, _size_of(item[0]), 0.0,
                     errno.EEXIST, None) for item in group]
        records.extend(_engine_record(FILING, item, row) for item, row in zip(group, rows))
        start = end
    return records


def _fs_bytes(path: str) -> bytes:
    return path.encode(_FS_ENCODING, _FS_ERRORS)


def _lost(args: tuple[PathArg, ...], error: BaseException) -> Record:
    """The record of an input whose task the executor lost."""
    return Record(display_name(args[0]), None, f"{type(error).__name__}: {error}",
                  tuple(display_name(a) for a in args[1:]), 0, 0.0)


def _worker_count(executor: Executor) -> int:
    count = getattr(executor, "_max_workers", None)
    return count if isinstance(count, int) and count > 0 else (os.cpu_count() or 1)


def _run(task: Callable[[Sequence[Any]], list[Any]], items: list[Any], executor: Executor | None) -> list[Any]:
    """task over items in chunks through executor: one result per item, in order.
    The items of a chunk that the executor lost get its exception as their result."""
    if not items:
        return []
    own = executor is None
    pool: Executor = ThreadPoolExecutor(max_workers=os.cpu_count() or 1) if own else executor  # type: ignore[assignment]
    try:
        workers = _worker_count(pool)
        tasks = _TASKS_PER_WORKER * workers
        size = max(1, min(_MAX_TASK_ITEMS, -(-len(items) // tasks)))
        chunks = [items[i:i + size] for i in range(0, len(items), size)]
        # Workers take tasks in the order they were submitted. Taken in input order,
        # the tasks running at once would write into the same output folder and take
        # turns at its lock in the kernel; submitted in strides, each worker starts in
        # its own share of the inputs, as far from the others as it can be.
        stride = -(-len(chunks) // workers)
        order = [i for start in range(stride) for i in range(start, len(chunks), stride)]
        futures: list[Any] = [None] * len(chunks)
        for i in order:
            futures[i] = pool.submit(task, chunks[i])
        results: list[Any] = []
        for chunk, future in zip(chunks, futures):
            try:
                results.extend(future.result())
            except Exception as error:  # noqa: BLE001 - the executor lost the task, not the file
                results.extend([error] * len(chunk))
        return results
    finally:
        if own:
            pool.shutdown()


def convert(func: Callable[..., Any], pairs: Iterable[Any], executor: Executor | None = None,
            force: bool = False) -> list[Record]:
    """Call func on each entry of pairs through executor and return one Record per entry, in order.

    func      a conversion of this package (crlf, html_to_text, decode_filing,
              convert_delimited, verify), or functools.partial of one for options,
              e.g. partial(quorlix.crlf, skip_blank=True)
    pairs     argument tuples such as (src, dst), or (src, text_dst, schedule_dst);
              a lone path stands for a one-argument call (verify)
    executor  any concurrent.futures.Executor; by default a thread pool with one
              thread per processor. With a Dask Client's executor, func and the
              paths are sent to the workers, which must see the same files.
    force     replace an output in the way that is a compressed file or an
              archive. No conversion writes one, so without force it is taken
              for a slip: it is left as it is and its entry fails with status 2.
    A verify that finds a mismatch gives status 18 with the tool's words.
    """
    items = [tuple(p) if isinstance(p, (tuple, list)) else (p,) for p in pairs]
    _check_arguments(func, items)
    call = _engine_call(func, force)
    fits = [call is not None and len(args) == 1 + call.outputs for args in items]
    by_engine = [(index, args) for index, args in enumerate(items) if fits[index]]
    direct = [(index, args) for index, args in enumerate(items) if not fits[index]]
    engine_results = iter(_run(partial(_convert_group, call), by_engine, executor))
    direct_results = iter(_run(partial(_run_direct, func), direct, executor))
    results: list[Record] = []
    for index, args in enumerate(items):
        result = next(engine_results if fits[index] else direct_results)
        results.append(_lost(args, result) if isinstance(result, BaseException) else result)
    return results


def _check_arguments(func: Callable[..., Any], items: list[tuple[PathArg, ...]]) -> None:
    """Raises what the conversions would raise for every input alike, before any
    file is touched: ValueError for a path holding a NUL byte, TypeError for a path
    or delimiter of the wrong type."""
    for args in items:
        for path in args:
            _path_bytes(path)
    if _is(func, convert_delimited):
        for name, delimiter in getattr(func, "keywords", {}).items():
            if name in DELIMITER_KEYWORDS:
                _delimiter_bytes(delimiter, name)


# ---- decode_filings: output names like the tool's batch form ----

def files_below(folder: PathArg) -> list[str]:
    """The regular files below folder as the batch forms take them: depth-first,
    names in byte order, links to files followed, links to folders not,
    conversions' private folders (.quorlix-*) passed over."""
    os.scandir(folder).close()  # a folder that cannot be read raises as it always did
    rows = _library.run_batch(_library.BATCH_LIST, [_path_bytes(folder)], None, walk=_library.BATCH_WALK_EVERY_FILE)
    return [os.fsdecode(row[0]) for row in rows]


def output_names(relative: str, out_dir: PathArg) -> tuple[str, str]:
    """The text and schedule outputs of an input: <stem>.txt and <stem>.fds.txt in its mirrored folder.

    The library names them (quorlix_batch_output_names), by the rule its batch
    engine and the quorlix tool name outputs by; no file is looked at."""
    texts = _library.output_names(_library.BATCH_FILING, _path_bytes(out_dir), _path_bytes(relative))
    return os.fsdecode(texts[0]), os.fsdecode(texts[1])


def decode_filings(paths: Iterable[PathArg], out_dir: PathArg, executor: Executor | None = None,
                   force: bool = False) -> list[Record]:
    """Decode every filing named in paths (files, or folders taken recursively) into out_dir.

    Outputs mirror the inputs: a file named directly writes out_dir/<stem>.txt
    (the text) and out_dir/<stem>.fds.txt (the schedule); a file found in a
    folder F writes the same names below out_dir/<its folder below F>, created
    as needed. Two inputs that would write the same output raise
    OutputCollisionError before any work starts. An input inside out_dir is not
    decoded: its record has status None and says so. An output in the way
    that is itself an EDGAR filing, or a compressed file or an archive, can only
    be a slip (decoding writes neither): unless force, it is left as it is and
    its input's record fails with status 2 and says so. Returns one Record per
    input, in input order (folders in depth-first, byte order).

    The library's batch engine walks and names the inputs once; each of the
    executor's tasks hands it a group of them.
    """
    paths = list(paths)
    for path in (*paths, out_dir):
        _path_bytes(path)
    if not paths:
        return []
    out_root = os.path.abspath(os.fsdecode(out_dir))
    try:
        listed = _library.run_batch(_library.BATCH_LIST, [_path_bytes(path) for path in paths], _fs_bytes(out_root),
                                    flag=_library.BATCH_FILING, walk=_library.BATCH_WALK_EVERY_FILE)
    except _library.BatchRefusedError as refused:
        reason, first, second, output = refused.args[0]
        if reason == _library.BATCH_REFUSED_COLLISION:
            raise OutputCollisionError(f"'{os.fsdecode(first)}' and '{os.fsdecode(second)}' would both write "
                                       f"'{os.fsdecode(output)}'") from None
        raise
    items = [(os.fsdecode(row[0]), *map(os.fsdecode, row[2])) for row in listed]
    runnable = [(index, item) for index, (item, row) in enumerate(zip(items, listed)) if row[4] == 0]
    pending = iter(_run(partial(_decode_group, force), runnable, executor))
    results: list[Record] = []
    for item, row in zip(items, listed):
        if row[4] != 0:
            results.append(Record(item[0], None, SKIPPED_MEANING, item[1:], _size_of(item[0]), 0.0))
            continue
        result = next(pending)
        results.append(_lost(item, result) if isinstance(result, BaseException) else result)
    return results
