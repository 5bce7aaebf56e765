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


def median_seconds(run, out_dir: str, runs: int) -> float:
    times = []
    for _ in range(runs):
        shutil.rmtree(out_dir, ignore_errors=True)
        os.makedirs(out_dir)
        start = time.perf_counter()
        run(out_dir)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> None:
    folder, work, tool, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    names = sorted(os.listdir(folder))
    inputs = [os.path.join(folder, name) for name in names]

    def sequential(out_dir):
        for name, path in zip(names, inputs):
            stem = os.path.join(out_dir, name[:-4])
            quorlix.decode_filing(path, stem + ".txt", stem + ".fds.txt")

    def pooled(threads):
        def run(out_dir):
            with ThreadPoolExecutor(threads) as pool:
                records = batch.decode_filings([folder], out_dir, executor=pool)
            assert all(r.status == 0 for r in records), "a filing failed"
        return run

    out_dir = os.path.join(work, "out")
    t_seq = median_seconds(sequential, out_dir, runs)
    t_one = median_seconds(pooled(1), out_dir, runs)
    t_two = median_seconds(pooled(2), out_dir, runs)
    line = (f"python decode_filings {len(inputs)} files  sequential {t_seq:.3f}s  1-thread {t_one:.3f}s  "
            f"2-thread {t_two:.3f}s  speedup {t_seq / t_two:.2f}x")
    help_text = subprocess.run([tool, "decode-filing", "--help"], capture_output=True, text=True).stdout
    if "--out-dir" in help_text:
        def tool_batch(out):
            subprocess.run([tool, "decode-filing", "-j", "2", "-o", out, folder], check=True,
                           stderr=subprocess.DEVNULL)
        t_tool = median_seconds(tool_batch, out_dir, runs)
        line += f"  quorlix -j 2 {t_tool:.3f}s  python/tool {t_two / t_tool:.2f}x"
    else:
        line += "  quorlix -j 2 n/a (no batch form in this build)"
    shutil.rmtree(out_dir, ignore_errors=True)
    print(line)


if __name__ == "__main__":
    main()
