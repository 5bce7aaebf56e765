#!/usr/bin/env python3
"""The Python package over many small filings: quorlix.batch.decode_filings
making its calls one after another in the caller's thread, against the same on a
thread pool of 2 threads (ctypes releases the GIL during each call). Beside them:
a plain loop of quorlix.decode_filing (no walk, no records), a 1-thread pool, the
plain loop split over two processes, and the tool's own batch form
(`quorlix decode-filing -j 2 -o OUT FOLDER`) where this build has it.
Usage: bench_python.py FOLDER WORK_DIR QUORLIX_TOOL RUNS; prints one line."""
import os
import shutil
import statistics
import subprocess
import sys
import time
from concurrent.futures import Executor, Future, ThreadPoolExecutor

import quorlix
from quorlix import batch


class InCallerExecutor(Executor):
    """Runs each task when it is submitted, in the submitting thread."""
    _max_workers = 1

    def submit(self, fn, /, *args, **kwargs):
        future = Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except BaseException as error:  # noqa: BLE001 - handed over as a pool would
            future.set_exception(error)
        return future


def seconds(run, out_dir: str) -> float:
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    start = time.perf_counter()
    run(out_dir)
    return time.perf_counter() - start


def cpu_split(folder: str, out_dir: str) -> tuple[float, float]:
    """CPU seconds of decode_filings's own Python work (it holds the GIL, so it is
    serial) and of what runs without the GIL: the library's calls and the stat of
    each input for its size. Unlike wall times, these do not depend on how much of
    the machine other work leaves free."""
    library = quorlix._library.load()
    call, size_of = library.CvtDecodeFiling, batch._size_of
    shutil.rmtree(out_dir, ignore_errors=True)
    library.CvtDecodeFiling, batch._size_of = (lambda *args: 0), (lambda path: 0)
    try:
        start = time.process_time()
        with ThreadPoolExecutor(1) as pool:
            records = batch.decode_filings([folder], out_dir, executor=pool)
        serial = time.process_time() - start
    finally:
        library.CvtDecodeFiling, batch._size_of = call, size_of
    arguments = [tuple(map(os.fsencode, (r.input, *r.outputs))) for r in records]
    start = time.process_time()
    for args in arguments:
        call(*args)
        os.stat(args[0])
    return serial, time.process_time() - start


def main() -> None:
    folder, work, tool, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    # Relative names below the folder, as decode_filings mirrors them.
    names = sorted(os.path.join(part, name) for part in os.listdir(folder)
                   for name in os.listdir(os.path.join(folder, part)))
    inputs = [os.path.join(folder, name) for name in names]

    def make_out_folders(out_dir):
        for part in {os.path.dirname(name) for name in names}:
            os.makedirs(os.path.join(out_dir, part), exist_ok=True)

    def decode_each(start, stop, out_dir):
        for name, path in zip(names[start:stop], inputs[start:stop]):
            stem = os.path.join(out_dir, name[:-4])
            quorlix.decode_filing(path, stem + ".txt", stem + ".fds.txt")

    def plain_loop(out_dir):
        make_out_folders(out_dir)
        decode_each(0, len(names), out_dir)

    def decode_filings_on(make_executor):
        def run(out_dir):
            with make_executor() as executor:
                records = batch.decode_filings([folder], out_dir, executor=executor)
            assert all(r.status == 0 for r in records), "a filing failed"
        return run

    def two_processes(out_dir):
        # The calls of the plain loop, split over two processes: what this machine
        # gives any two-way parallel run at the moment, GIL or not.
        make_out_folders(out_dir)
        middle = len(names) // 2
        children = []
        for start, stop in ((0, middle), (middle, len(names))):
            pid = os.fork()
            if pid == 0:
                try:
                    decode_each(start, stop, out_dir)
                finally:
                    os._exit(0)
            children.append(pid)
        for pid in children:
            os.waitpid(pid, 0)

    jobs = {"sequential": decode_filings_on(InCallerExecutor),
            "2-thread": decode_filings_on(lambda: ThreadPoolExecutor(2)),
            "plain loop": plain_loop,
            "1-thread": decode_filings_on(lambda: ThreadPoolExecutor(1)),
            "2-process": two_processes}
    help_text = subprocess.run([tool, "decode-filing", "--help"], capture_output=True, text=True).stdout
    if "--out-dir" in help_text:
        def tool_batch(threads):
            def run(out):
                subprocess.run([tool, "decode-filing", "-j", str(threads), "-o", out, folder], check=True,
                               stderr=subprocess.DEVNULL)
            return run
        # What the machine gives the tool's own threads at the moment, for the Python speedup beside it.
        jobs["quorlix -j 1"] = tool_batch(1)
        jobs["quorlix -j 2"] = tool_batch(2)
    # The jobs take turns within each round, so that a change in the machine's load
    # between rounds reaches all of them alike.
    out_dir = os.path.join(work, "out")
    times = {name: [] for name in jobs}
    for _ in range(runs):
        for name, run in jobs.items():
            times[name].append(seconds(run, out_dir))
    t = {name: statistics.median(values) for name, values in times.items()}
    line = (f"python decode_filings {len(inputs)} files  sequential {t['sequential']:.3f}s  "
            f"2-thread {t['2-thread']:.3f}s  speedup {t['sequential'] / t['2-thread']:.2f}x  "
            f"(plain loop {t['plain loop']:.3f}s, {t['plain loop'] / t['2-thread']:.2f}x; "
            f"1-thread pool {t['1-thread']:.3f}s; plain loop on 2 processes {t['2-process']:.3f}s, "
            f"{t['plain loop'] / t['2-process']:.2f}x)")
    if "quorlix -j 2" in t:
        line += (f"  quorlix -j 2 {t['quorlix -j 2']:.3f}s (-j 1 {t['quorlix -j 1']:.3f}s, "
                 f"{t['quorlix -j 1'] / t['quorlix -j 2']:.2f}x)  python/tool {t['2-thread'] / t['quorlix -j 2']:.2f}x")
    else:
        line += "  quorlix -j 2 n/a (no batch form in this build)"
    serial, parallel = cpu_split(folder, out_dir)
    line += (f"  cpu {1e6 * (serial + parallel) / len(inputs):.0f}us/file, {100 * serial / (serial + parallel):.0f}% "
             f"holding the GIL: at most {(serial + parallel) / (serial + parallel / 2):.2f}x on 2 free cores")
    shutil.rmtree(out_dir, ignore_errors=True)
    print(line)


if __name__ == "__main__":
    main()
