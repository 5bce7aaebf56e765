"""Many conversions through any concurrent.futures.Executor.

The library keeps nothing between calls and ctypes releases the GIL during
each, so a thread pool runs conversions in parallel; a Dask distributed
Client's executor (client.get_executor()) runs them on a cluster whose workers
see the same file system. Every input gives one record, in input order; a
failure is a record, never an exception.
"""
from __future__ import annotations

import os
import time
from concurrent.futures import Executor, ThreadPoolExecutor
from dataclasses import dataclass
from typing import Any, Callable, Iterable, Sequence

from ._convert import PathArg, decode_filing, verify
from ._errors import FILING, VERIFY, QuorlixError, describe, display_name

OK_MEANING = "ok"
SKIPPED_MEANING = "skipped: inside the output folder"
# Enough tasks per worker to balance uneven files, few enough that the
# executor's own cost per task stays small beside the conversions.
_TASKS_PER_WORKER = 8
_MAX_TASK_ITEMS = 256


@dataclass(frozen=True)
class Record:
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
    status: int | None
    meaning: str
    outputs: tuple[str, ...]
    bytes_in: int
    seconds: float


class OutputCollisionError(ValueError):
    """Two inputs would write the same output; nothing was converted."""


def _size_of(path: PathArg) -> int:
    try:
        return os.stat(path).st_size
    except (OSError, ValueError):
        return 0


def _run_one(func: Callable[..., Any], args: tuple[PathArg, ...], make_folders: bool) -> Record:
    source = args[0] if args else ""
    outputs = tuple(display_name(a) for a in args[1:])
    start = time.perf_counter()
    try:
        if make_folders:
            for output in args[1:]:
                os.makedirs(os.path.dirname(os.fsdecode(output)) or ".", exist_ok=True)
        result = func(*args)
        if result is False and _is(func, verify):
            status, meaning = 18, describe(VERIFY, 18, (display_name(source),))
        else:
            status, meaning = 0, OK_MEANING
    except QuorlixError as error:
        status, meaning = error.status, error.message
    except OSError as error:
        # Only the folders of the outputs are this module's own file work.
        status, meaning = 2, describe(FILING, 2, (display_name(source), *outputs)) + f": {error}"
    except Exception as error:  # noqa: BLE001 - one bad input must not end the batch
        status, meaning = None, f"{type(error).__name__}: {error}"
    seconds = time.perf_counter() - start
    return Record(display_name(source), status, meaning, outputs, _size_of(source), seconds)


def _is(func: Callable[..., Any], target: Callable[..., Any]) -> bool:
    return func is target or getattr(func, "func", None) is target


def _run_items(func: Callable[..., Any], items: Sequence[tuple[PathArg, ...]], make_folders: bool) -> list[Record]:
    return [_run_one(func, args, make_folders) for args in items]


def _worker_count(executor: Executor) -> int:
    count = getattr(executor, "_max_workers", None)
    return count if isinstance(count, int) and count > 0 else (os.cpu_count() or 1)


def _run(func: Callable[..., Any], items: list[tuple[PathArg, ...]], executor: Executor | None,
         make_folders: bool = False) -> list[Record]:
    if not items:
        return []
    own = executor is None
    pool: Executor = ThreadPoolExecutor(max_workers=os.cpu_count() or 1) if own else executor  # type: ignore[assignment]
    try:
        tasks = _TASKS_PER_WORKER * _worker_count(pool)
        size = max(1, min(_MAX_TASK_ITEMS, -(-len(items) // tasks)))
        chunks = [items[i:i + size] for i in range(0, len(items), size)]
        futures = [pool.submit(_run_items, func, chunk, make_folders) for chunk in chunks]
        records: list[Record] = []
        for chunk, future in zip(chunks, futures):
            try:
                records.extend(future.result())
            except Exception as error:  # noqa: BLE001 - the executor lost the task, not the file
                records.extend(Record(display_name(args[0]), None, f"{type(error).__name__}: {error}",
                                      tuple(display_name(a) for a in args[1:]), 0, 0.0) for args in chunk)
        return records
    finally:
        if own:
            pool.shutdown()


def convert(func: Callable[..., Any], pairs: Iterable[Any], executor: Executor | None = None) -> list[Record]:
    """Call func on each entry of pairs through executor and return one Record per entry, in order.

    func      a conversion of this package (crlf, html_to_text, decode_filing,
              convert_delimited, verify), or functools.partial of one for options,
              e.g. partial(quorlix.crlf, skip_blank=True)
    pairs     argument tuples such as (src, dst), or (src, text_dst, schedule_dst);
              a lone path stands for a one-argument call (verify)
    executor  any concurrent.futures.Executor; by default a thread pool with one
              thread per processor. With a Dask Client's executor, func and the
              paths are sent to the workers, which must see the same files.
    A verify that finds a mismatch gives status 18 with the tool's words.
    """
    items = [tuple(p) if isinstance(p, (tuple, list)) else (p,) for p in pairs]
    return _run(func, items, executor)


# ---- decode_filings: output names like the tool's batch form ----

def _walk(folder: str) -> list[str]:
    """Regular files below folder, depth-first, names in byte order; links to folders are not followed."""
    found = []
    for root, dirs, files in os.walk(folder):
        dirs.sort(key=os.fsencode)
        for name in sorted(files, key=os.fsencode):
            path = os.path.join(root, name)
            if os.path.isfile(path):
                found.append(path)
    return found


def _inputs(paths: Iterable[PathArg]) -> list[tuple[str, str]]:
    """(input, its output path below the output folder) for each file named or found."""
    inputs = []
    for path in paths:
        path = os.fsdecode(path)
        if os.path.isdir(path):
            inputs.extend((found, os.path.relpath(found, path)) for found in _walk(path))
        else:
            inputs.append((path, os.path.basename(path)))
    return inputs


def output_names(relative: str, out_dir: PathArg) -> tuple[str, str]:
    """The text and schedule outputs of an input: <stem>.txt and <stem>.fds.txt in its mirrored folder."""
    folder, name = os.path.split(relative)
    stem = os.path.splitext(name)[0]
    base = os.path.join(os.fsdecode(out_dir), folder, stem)
    return base + ".txt", base + ".fds.txt"


def _is_inside(path: str, folder: str) -> bool:
    try:
        return os.path.commonpath([os.path.realpath(path), folder]) == folder
    except ValueError:
        return False


def decode_filings(paths: Iterable[PathArg], out_dir: PathArg, executor: Executor | None = None) -> list[Record]:
    """Decode every filing named in paths (files, or folders taken recursively) into out_dir.

    Outputs mirror the inputs: a file named directly writes out_dir/<stem>.txt
    (the text) and out_dir/<stem>.fds.txt (the schedule); a file found in a
    folder F writes the same names below out_dir/<its folder below F>, created
    as needed. Two inputs that would write the same output raise
    OutputCollisionError before any work starts. An input inside out_dir is not
    decoded: its record has status None and says so. Returns one Record per
    input, in input order (folders in depth-first, byte order).
    """
    out_root = os.path.realpath(os.fsdecode(out_dir))
    items: list[tuple[str, str, str]] = []
    skipped: dict[int, Record] = {}
    owners: dict[str, str] = {}
    for source, relative in _inputs(paths):
        outputs = output_names(relative, out_dir)
        if _is_inside(source, out_root):
            skipped[len(items) + len(skipped)] = Record(source, None, SKIPPED_MEANING, outputs, _size_of(source), 0.0)
            continue
        for output in outputs:
            key = os.path.normcase(os.path.abspath(output))
            if key in owners:
                raise OutputCollisionError(f"'{owners[key]}' and '{source}' would both write '{output}'")
            owners[key] = source
        items.append((source, *outputs))
    done = iter(_run(decode_filing, items, executor, make_folders=True))
    return [skipped[i] if i in skipped else next(done) for i in range(len(items) + len(skipped))]
