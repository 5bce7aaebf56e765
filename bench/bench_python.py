#!/usr/bin/env python3
"""The Python package over many small filings: sequential calls against
quorlix.batch.decode_filings on a thread pool of 1 and of 2 threads (ctypes
releases the GIL during each call), and against the tool's own batch form
(`quorlix decode-filing -j 2 -o OUT FOLDER`) where this build has it.
Usage: bench_python.py FOLDER WORK_DIR QUORLIX_TOOL RUNS; prints one line."""
import os
import shutil
import statistics
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import quorlix
from quorlix import batch


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

    def sequential(out_dir):
        make_out_folders(out_dir)
        decode_each(0, len(names), out_dir)

    def pooled(threads):
        def run(out_dir):
            with ThreadPoolExecutor(threads) as pool:
                records = batch.decode_filings([folder], out_dir, executor=pool)
            assert all(r.status == 0 for r in records), "a filing failed"
        return run

    def two_processes(out_dir):
        # The same calls as "sequential", split over two processes: what this machine
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

    jobs = {"sequential": sequential, "1-thread": pooled(1), "2-thread": pooled(2), "2-process": two_processes}
    help_text = subprocess.run([tool, "decode-filing", "--help"], capture_output=True, text=True).stdout
    if "--out-dir" in help_text:
        def tool_batch(out):
            subprocess.run([tool, "decode-filing", "-j", "2", "-o", out, folder], check=True,
                           stderr=subprocess.DEVNULL)
        jobs["quorlix -j 2"] = tool_batch
    # The jobs take turns within each round, so that a change in the machine's load
    # between rounds reaches all of them alike.
    out_dir = os.path.join(work, "out")
    times = {name: [] for name in jobs}
    for _ in range(runs):
        for name, run in jobs.items():
            times[name].append(seconds(run, out_dir))
    t = {name: statistics.median(values) for name, values in times.items()}
    line = (f"python decode_filings {len(inputs)} files  sequential {t['sequential']:.3f}s  "
            f"1-thread {t['1-thread']:.3f}s  2-thread {t['2-thread']:.3f}s  "
            f"speedup {t['sequential'] / t['2-thread']:.2f}x  (2 processes {t['2-process']:.3f}s, "
            f"{t['sequential'] / t['2-process']:.2f}x)")
    if "quorlix -j 2" in t:
        line += f"  quorlix -j 2 {t['quorlix -j 2']:.3f}s  python/tool {t['2-thread'] / t['quorlix -j 2']:.2f}x"
    else:
        line += "  quorlix -j 2 n/a (no batch form in this build)"
    serial, parallel = cpu_split(folder, out_dir)
    line += (f"  cpu {1e6 * (serial + parallel) / len(inputs):.0f}us/file, {100 * serial / (serial + parallel):.0f}% "
             f"holding the GIL: at most {(serial + parallel) / (serial + parallel / 2):.2f}x on 2 free cores")
    shutil.rmtree(out_dir, ignore_errors=True)
    print(line)


if __name__ == "__main__":
    main()
