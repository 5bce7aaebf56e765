"""Many files through executors: the same records and outputs whatever runs them."""
import csv
import functools
import os
import re
import shutil
import subprocess
import sys
import threading
from concurrent.futures import Executor, Future, ThreadPoolExecutor

import pytest

import quorlix
from quorlix import batch

FILINGS = ["filing/apple_10q_2000q1_ex27.txt", "filing/apple_10q_1998q3_ex27_flawed_tabs.txt",
           "verify/apple_8k_2000_no_ex27.txt"]


@pytest.fixture
def filing_tree(tmp_path, data_dir):
    """24 filings in nested folders, made from the repository's samples with a line of their own each."""
    root = tmp_path / "filings"
    for i in range(24):
        folder = root / f"y{i % 3}" / ("q" if i % 2 else "")
        folder.mkdir(parents=True, exist_ok=True)
        data = (data_dir / FILINGS[i % len(FILINGS)]).read_bytes()
        (folder / f"f{i:02d}.txt").write_bytes(data.replace(b"<SEC-HEADER>", f"filing {i}\n<SEC-HEADER>".encode(), 1))
    return root


def without_seconds(records):
    return [(r.input, r.status, r.meaning, r.outputs, r.bytes_in) for r in records]


def outputs_of(folder):
    return {p.relative_to(folder): p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


def test_eight_threads_give_what_one_gives(tmp_path, filing_tree):
    with ThreadPoolExecutor(1) as one:
        sequential = batch.decode_filings([filing_tree], tmp_path / "one", executor=one)
    with ThreadPoolExecutor(8) as eight:
        parallel = batch.decode_filings([filing_tree], tmp_path / "eight", executor=eight)
    assert without_seconds(sequential) == [
        (r.input, r.status, r.meaning, tuple(o.replace(str(tmp_path / "eight"), str(tmp_path / "one"))
                                             for o in r.outputs), r.bytes_in) for r in parallel]
    assert [r.status for r in parallel] == [0] * 24
    assert outputs_of(tmp_path / "one") == outputs_of(tmp_path / "eight")
    assert len(outputs_of(tmp_path / "one")) == 48


def test_outputs_mirror_the_inputs_in_byte_order(tmp_path, filing_tree, data_dir):
    direct = data_dir / FILINGS[0]
    records = batch.decode_filings([direct, filing_tree / "y1"], tmp_path / "out")
    assert records[0].outputs == (str(tmp_path / "out" / "apple_10q_2000q1_ex27.txt"),
                                  str(tmp_path / "out" / "apple_10q_2000q1_ex27.fds.txt"))
    inputs = [r.input for r in records[1:]]
    assert inputs == sorted(inputs, key=lambda p: p.encode()) and len(inputs) == 8
    below_q = [r for r in records[1:] if r.input.startswith(str(filing_tree / "y1" / "q") + os.sep)]
    assert below_q and all(r.outputs[0].startswith(str(tmp_path / "out" / "q") + os.sep) for r in below_q)
    assert records[0].bytes_in == direct.stat().st_size and records[0].seconds > 0
    assert (tmp_path / "out" / "apple_10q_2000q1_ex27.fds.txt").read_bytes().startswith(b"Article")


def test_names_beyond_ascii_are_walked_in_byte_order(tmp_path, data_dir):
    # As str, the undecodable byte 0xff (U+DCFF) sorts before U+E000; as bytes, after it.
    folder = tmp_path / "in"
    folder.mkdir()
    data = (data_dir / FILINGS[0]).read_bytes()
    names = [b"b.txt", b"\xc3\xa9.txt", b"\xee\x80\x80.txt", b"\xff.txt", b"Z.txt"]
    for name in names:
        (folder / os.fsdecode(name)).write_bytes(data)
    records = batch.decode_filings([folder], tmp_path / "out")
    assert [os.fsencode(os.path.basename(r.input)) for r in records] == sorted(names)
    assert [r.status for r in records] == [0] * len(names)


def test_failures_are_records_in_input_order(tmp_path, data_dir):
    good = data_dir / FILINGS[0]
    missing = tmp_path / "missing.txt"
    blocked = tmp_path / "in" / "sub" / "blocked.txt"
    blocked.parent.mkdir(parents=True)
    shutil.copy(good, blocked)
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "sub").write_bytes(b"a file where the output folder goes")
    records = batch.decode_filings([good, missing, tmp_path / "in", data_dir / FILINGS[2]], tmp_path / "out")
    assert [r.status for r in records] == [0, 3, 2, 0]
    assert records[1].meaning == f"filing '{missing}' not found (status 3)" and records[1].bytes_in == 0
    assert records[2].meaning.startswith(f"file error on '{blocked}'") and "File exists" in records[2].meaning
    pairs = [(good, tmp_path / "a.txt", tmp_path / "b.txt"), (good, tmp_path / "x" / "a.txt", tmp_path / "b.txt")]
    failed = batch.convert(quorlix.decode_filing, pairs)
    assert [r.status for r in failed] == [0, 2] and failed[1].meaning.startswith("file error on")


def test_collisions_are_refused_before_any_work(tmp_path, data_dir):
    (tmp_path / "a").mkdir()
    (tmp_path / "a" / "f.txt").write_bytes(b"x\n")
    (tmp_path / "b").mkdir()
    (tmp_path / "b" / "f.htm").write_bytes(b"y\n")  # the same stem: the same outputs
    with pytest.raises(batch.OutputCollisionError, match="f.htm"):
        batch.decode_filings([tmp_path / "a" / "f.txt", tmp_path / "b" / "f.htm"], tmp_path / "out")
    assert not (tmp_path / "out").exists()
    # A text output that is another input's schedule output, found in a folder.
    (tmp_path / "b" / "g.fds.txt").write_bytes(b"z\n")
    (tmp_path / "b" / "g.txt").write_bytes(b"z\n")
    expected = f"'{tmp_path / 'b' / 'g.fds.txt'}' and '{tmp_path / 'b' / 'g.txt'}' would both write '{tmp_path / 'out' / 'g.fds.txt'}'"
    with pytest.raises(batch.OutputCollisionError, match=re.escape(expected)):
        batch.decode_filings([tmp_path / "b"], tmp_path / "out")
    assert not (tmp_path / "out").exists()


def naming_cases(data_dir, command):
    """(input, outputs) of the shared table of output names, for one command."""
    cases = []
    for line in (data_dir / "naming" / "output_names.tsv").read_text().splitlines():
        if line and not line.startswith("#"):
            row_command, relative, outputs = line.split("\t")
            if row_command == command:
                cases.append((relative, tuple(outputs.split(";"))))
    return cases


def test_output_names_follow_the_table_shared_with_the_tool(tmp_path, data_dir):
    cases = naming_cases(data_dir, "decode-filing")
    assert len(cases) >= 8
    for relative, outputs in cases:
        assert batch.output_names(relative, tmp_path) == tuple(str(tmp_path / o) for o in outputs), relative


def test_decode_filings_writes_the_tables_names(tmp_path, data_dir):
    # Each case in a folder of its own: "x." and "x..y" both write "x..txt".
    cases = naming_cases(data_dir, "decode-filing")
    for i, (relative, _) in enumerate(cases):
        path = tmp_path / "in" / f"case{i}" / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(data_dir / FILINGS[2], path)
    records = batch.decode_filings([tmp_path / "in"], tmp_path / "out")
    written = {r.input: r.outputs for r in records}
    assert [r.status for r in records] == [0] * len(cases)
    for i, (relative, outputs) in enumerate(cases):
        expected = tuple(str(tmp_path / "out" / f"case{i}" / o) for o in outputs)
        assert written[str(tmp_path / "in" / f"case{i}" / relative)] == expected
        assert all(os.path.isfile(o) for o in expected), relative


def test_the_tool_and_the_package_write_the_same_outputs_and_records(tool, tmp_path, data_dir):
    # Names whose stems are easy to get wrong, in one tree; "x." and "x..y" both
    # have the stem "x.", so the second sits in a folder of its own.
    tree = tmp_path / "tree"
    for relative in ["..x", ".x", "x.", "sub/x..y", "noext", "UP.TXT"]:
        (tree / relative).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(data_dir / FILINGS[0], tree / relative)
    by_tool, by_package = tmp_path / "tool", tmp_path / "package"
    run = subprocess.run([str(tool), "decode-filing", "-q", "-j", "1", "-o", str(by_tool), str(tree),
                          "--report", str(tmp_path / "report.csv")], capture_output=True, check=False)
    assert run.returncode == 0, run.stderr
    records = batch.decode_filings([tree], by_package)

    def outputs(root):
        return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}
    assert outputs(by_tool) == outputs(by_package)
    assert sorted(outputs(by_tool)) == ["..fds.txt", "..txt", ".x.fds.txt", ".x.txt", "UP.fds.txt", "UP.txt",
                                        "noext.fds.txt", "noext.txt", "sub/x..fds.txt", "sub/x..txt", "x..fds.txt",
                                        "x..txt"]
    with open(tmp_path / "report.csv", newline="") as report:
        rows = [(r["input"], int(r["status"]), r["meaning"], tuple(r["outputs"].split(";")), int(r["bytes_in"]))
                for r in csv.DictReader(report)]
    in_package_terms = [(r.input, r.status, r.meaning, tuple(o.replace(str(by_package), str(by_tool)) for o in r.outputs),
                         r.bytes_in) for r in records]
    assert rows == in_package_terms


def test_inputs_inside_the_output_folder_are_skipped(tmp_path, data_dir):
    out = tmp_path / "out"
    out.mkdir()
    shutil.copy(data_dir / FILINGS[0], out / "old.txt")
    records = batch.decode_filings([data_dir / FILINGS[2], out], out)
    assert [(r.status, r.meaning) for r in records] == [(0, "ok"), (None, batch.SKIPPED_MEANING)]
    assert not (out / "old.fds.txt").exists()
    # The output folder below an input folder: only its own subtree is left alone.
    shutil.copy(data_dir / FILINGS[2], tmp_path / "new.txt")
    records = batch.decode_filings([tmp_path], out)
    assert [(os.path.basename(r.input), r.status) for r in records] == [
        ("new.txt", 0), ("apple_8k_2000_no_ex27.fds.txt", None), ("apple_8k_2000_no_ex27.txt", None),
        ("old.txt", None)]


class LosingExecutor(Executor):
    """Runs tasks in the caller's thread and loses the second, as a cluster that loses a worker would."""
    _max_workers = 1

    def __init__(self):
        self.submitted = 0

    def submit(self, fn, /, *args, **kwargs):
        self.submitted += 1
        future = Future()
        if self.submitted == 2:
            future.set_exception(ConnectionError("worker lost"))
        else:
            future.set_result(fn(*args, **kwargs))
        return future


def test_a_lost_task_gives_records_of_its_own_inputs(tmp_path, filing_tree):
    # 24 inputs on one worker go out as 8 tasks of 3, in input order.
    records = batch.decode_filings([filing_tree], tmp_path / "out", executor=LosingExecutor())
    assert [r.status for r in records] == [0] * 3 + [None] * 3 + [0] * 18
    for lost in records[3:6]:
        assert lost.meaning == "ConnectionError: worker lost" and lost.bytes_in == 0
        assert not any(os.path.exists(output) for output in lost.outputs)
    pairs = [(filing_tree / "y0" / "f00.txt", tmp_path / f"{i}.txt", tmp_path / f"{i}.fds.txt") for i in range(8)]
    converted = batch.convert(quorlix.decode_filing, pairs, executor=LosingExecutor())
    assert [r.status for r in converted] == [0, None, 0, 0, 0, 0, 0, 0]
    assert converted[1].outputs == (str(tmp_path / "1.txt"), str(tmp_path / "1.fds.txt"))


def test_convert_runs_any_conversion_with_its_options(tmp_path, data_dir):
    sources = []
    for i in range(6):
        sources.append(tmp_path / f"{i}.txt")
        sources[-1].write_bytes(b"a\n\n" * (i + 1))
    pairs = [(s, s.with_suffix(".out")) for s in sources]
    records = batch.convert(functools.partial(quorlix.crlf, skip_blank=True), pairs)
    assert [r.status for r in records] == [0] * 6
    assert [p[1].read_bytes() for p in pairs] == [b"a\r\n" * (i + 1) for i in range(6)]
    fake = tmp_path / "fake.jpg"
    fake.write_bytes(b"text")
    checked = batch.convert(quorlix.verify, [data_dir / "win32" / "picture.gif", fake, tmp_path / "x.zzz"])
    assert [(r.status, r.meaning) for r in checked] == [
        (0, "ok"),
        (18, f'{fake}: contents do not match .jpg: bytes 6-10 are not "JFIF" (in any case) and a NUL; the file has '
             "4 bytes (status 18)"),
        (17, f"{tmp_path / 'x.zzz'}: unknown suffix (status 17)")]
    assert batch.convert(quorlix.verify, []) == []


def test_dask_cluster_gives_the_thread_pools_records_and_outputs(tmp_path, filing_tree):
    distributed = pytest.importorskip("distributed")
    with ThreadPoolExecutor(2) as pool:
        threaded = batch.decode_filings([filing_tree], tmp_path / "threads", executor=pool)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=50) as cluster, distributed.Client(cluster) as client:
        on_cluster = batch.decode_filings([filing_tree], tmp_path / "dask", executor=client.get_executor())
    assert [(r.input, r.status, r.meaning, r.bytes_in) for r in on_cluster] == [
        (r.input, r.status, r.meaning, r.bytes_in) for r in threaded]
    assert [r.outputs for r in on_cluster] == [
        tuple(o.replace(str(tmp_path / "threads"), str(tmp_path / "dask")) for o in r.outputs) for r in threaded]
    assert outputs_of(tmp_path / "dask") == outputs_of(tmp_path / "threads")


# ---- Arguments refused before any file is touched ----

def test_nul_bytes_and_wrong_delimiter_types_raise_before_any_file_is_touched(tmp_path, data_dir):
    good = str(data_dir / FILINGS[0])
    with pytest.raises(ValueError, match="NUL"):
        batch.decode_filings([good, "report.txt\0-old"], tmp_path / "out")
    with pytest.raises(ValueError, match="NUL"):
        batch.decode_filings([good], str(tmp_path / "out\0x"))
    with pytest.raises(ValueError, match="NUL"):
        batch.convert(quorlix.crlf, [(good, str(tmp_path / "a.txt")), (good, str(tmp_path / "a.txt\0.htm"))])
    with pytest.raises(TypeError, match="in_field must be str or bytes, not int"):
        quorlix.convert_delimited(good, tmp_path / "a.tsv", in_field=44)
    with pytest.raises(TypeError, match="in_field"):
        batch.convert(functools.partial(quorlix.convert_delimited, in_field=44), [(good, str(tmp_path / "b.tsv"))])
    assert list(tmp_path.iterdir()) == []


# ---- Outputs arrive whole, under their final names only ----

def test_a_link_at_a_final_name_is_replaced_not_written_through(tmp_path, data_dir):
    victim = tmp_path / "victim"
    victim.write_bytes(b"keep me")
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "apple_10q_2000q1_ex27.txt").symlink_to(victim)
    (tmp_path / "out" / "c.txt").symlink_to(victim)
    records = batch.decode_filings([data_dir / FILINGS[0]], tmp_path / "out")
    records += batch.convert(quorlix.crlf, [(data_dir / FILINGS[1], tmp_path / "out" / "c.txt")])
    assert [r.status for r in records] == [0, 0]
    assert victim.read_bytes() == b"keep me"
    assert not (tmp_path / "out" / "apple_10q_2000q1_ex27.txt").is_symlink()
    assert not (tmp_path / "out" / "c.txt").is_symlink()
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == [
        "apple_10q_2000q1_ex27.fds.txt", "apple_10q_2000q1_ex27.txt", "c.txt"]


def test_a_failed_input_leaves_no_file_under_a_final_name(tmp_path, data_dir):
    folder = tmp_path / "in"
    folder.mkdir()
    long_name = "n" * 250 + ".htm"  # its schedule output's name would be over 255 bytes
    shutil.copy(data_dir / FILINGS[0], folder / long_name)
    shutil.copy(data_dir / FILINGS[0], folder / "short.txt")
    records = batch.decode_filings([folder], tmp_path / "out")
    assert [r.status for r in records] == [2, 0]
    assert records[0].meaning.endswith(": File name too long")
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["short.fds.txt", "short.txt"]
    # A conversion that fails leaves its output as it was.
    (tmp_path / "kept.txt").write_bytes(b"old")
    failed = batch.convert(quorlix.html_to_text, [(data_dir / FILINGS[0], tmp_path / "kept.txt")])
    assert failed[0].status == 12 and (tmp_path / "kept.txt").read_bytes() == b"old"
    assert not [p for p in tmp_path.rglob(".quorlix-*")]


def test_a_full_disk_leaves_no_partial_outputs(tmp_path, data_dir):
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=192k", "tmpfs", str(disk)],
                      stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("mounting a small tmpfs is refused here")
    try:
        records = batch.decode_filings([data_dir / f for f in FILINGS] * 1, disk / "out")
        records += batch.decode_filings([data_dir / FILINGS[0]], disk / "again")
        failed = [r for r in records if r.status != 0]
        assert failed, "the small disk should have filled"
        left = {str(p) for p in disk.rglob("*") if p.is_file()}
        for record in failed:
            assert not left.intersection(record.outputs), record
        for record in records:
            if record.status == 0:
                assert left.issuperset(record.outputs)
        assert not [p for p in disk.rglob(".quorlix-*")]
    finally:
        subprocess.run(["umount", str(disk)], check=True)


# ---- Walks ----

def test_a_very_deep_tree_is_walked_and_private_folders_are_passed_over(tmp_path, data_dir):
    folder = tmp_path / "in"
    deep = folder
    folder.mkdir()
    for _ in range(1100):  # one by one: pathlib's own mkdir(parents=True) recurses
        deep = deep / "d"
        deep.mkdir()
    shutil.copy(data_dir / FILINGS[0], deep / "f.txt")
    (folder / ".quorlix-123-abc").mkdir()
    shutil.copy(data_dir / FILINGS[0], folder / ".quorlix-123-abc" / "0-0.txt")
    records = batch.decode_filings([folder], tmp_path / "out")
    assert [(r.input, r.status) for r in records] == [(str(deep / "f.txt"), 0)]
    assert batch.files_below(folder) == [str(deep / "f.txt")]
    # pytest's clean-up of old temporary folders recurses, as shutil.rmtree does: take the trees down here.
    for tree in (folder, tmp_path / "out"):
        _remove_deep_chain(tree, 1100)


def _remove_deep_chain(top, depth):
    """Removes a tree whose deepest files lie below a chain of folders named "d"."""
    levels = [top]
    for _ in range(depth):
        levels.append(levels[-1] / "d")
    for level in reversed(levels):
        if level.is_dir():
            shutil.rmtree(level)


def test_an_output_in_the_way_that_is_a_filing_or_packed_is_kept_without_force(tmp_path, data_dir):
    filing = (data_dir / FILINGS[0]).read_bytes()
    out = tmp_path / "out"
    out.mkdir()
    disguised = b"\n" * 9000 + filing  # blank lines past the first 8 KiB
    (out / "apple_10q_2000q1_ex27.txt").write_bytes(disguised)
    packed = tmp_path / "packed.txt"
    packed.write_bytes(filing)
    subprocess.run(["gzip", "-n", str(packed)], check=True)
    (out / "b.fds.txt").write_bytes((tmp_path / "packed.txt.gz").read_bytes())
    shutil.copy(data_dir / FILINGS[1], tmp_path / "b.txt")
    shutil.copy(data_dir / FILINGS[2], tmp_path / "c.txt")
    inputs = [data_dir / FILINGS[0], tmp_path / "b.txt", tmp_path / "c.txt"]
    records = batch.decode_filings(inputs, out)
    assert [r.status for r in records] == [2, 2, 0]
    assert records[0].meaning == f"'{out / 'apple_10q_2000q1_ex27.txt'}' is an EDGAR filing: force=True writes over it"
    assert records[1].meaning == f"'{out / 'b.fds.txt'}' is a gzip-compressed file: force=True writes over it"
    assert (out / "apple_10q_2000q1_ex27.txt").read_bytes() == disguised
    assert not (out / "apple_10q_2000q1_ex27.fds.txt").exists() and not (out / "b.txt").exists()
    assert (out / "c.txt").exists()
    forced = batch.decode_filings(inputs, out, force=True)
    assert [r.status for r in forced] == [0, 0, 0]
    assert (out / "apple_10q_2000q1_ex27.txt").read_bytes() != disguised


def test_convert_keeps_a_packed_output_in_the_way_without_force(tmp_path, data_dir):
    html = tmp_path / "page.htm"
    html.write_bytes(b"<HTML><BODY><P>one</P></BODY></HTML>")
    packed = tmp_path / "page.txt"
    packed.write_bytes(b"text kept for later\n")
    subprocess.run(["xz", "-k", str(packed)], check=True)
    shutil.move(tmp_path / "page.txt.xz", tmp_path / "kept.txt")
    plain = tmp_path / "plain.txt"
    plain.write_bytes(b"an earlier output\n")
    pairs = [(html, tmp_path / "kept.txt"), (html, plain)]
    kept = (tmp_path / "kept.txt").read_bytes()
    records = batch.convert(quorlix.html_to_text, pairs)
    assert [r.status for r in records] == [2, 0]
    assert records[0].meaning.startswith(f"'{tmp_path / 'kept.txt'}' is an xz-compressed file")
    assert records[0].meaning.endswith(": force=True writes over it")
    assert (tmp_path / "kept.txt").read_bytes() == kept
    assert [r.status for r in batch.convert(quorlix.html_to_text, pairs, force=True)] == [0, 0]
    assert (tmp_path / "kept.txt").read_bytes() != kept


def test_private_folders_are_locked_so_the_tools_resume_keeps_a_live_runs(tool, tmp_path, data_dir):
    from quorlix import _library
    out = tmp_path / "out"
    out.mkdir()
    (tmp_path / "in").mkdir()
    shutil.copy(data_dir / FILINGS[0], tmp_path / "in" / "a.txt")
    for name in ("b.txt", "c.txt"):
        shutil.copy(data_dir / FILINGS[0], tmp_path / name)
    # A process that ends in the middle of its batch, as a killed one does.
    script = ("import os, sys; from quorlix import _library; "
              "_library.run_batch(_library.BATCH_FILING, [os.fsencode(sys.argv[1])], os.fsencode(sys.argv[2]), "
              "on_row=lambda row: os._exit(0))")
    subprocess.run([sys.executable, "-c", script, str(tmp_path / "b.txt"), str(out)], check=True,
                   env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    # A batch of this process, held at its first row while the tool runs.
    held, release = threading.Event(), threading.Event()

    def hold(_row):
        held.set()
        release.wait(60)
        return False
    live = threading.Thread(target=_library.run_batch, args=(_library.BATCH_FILING, [os.fsencode(tmp_path / "c.txt")],
                                                              os.fsencode(out)), kwargs={"on_row": hold})
    live.start()
    try:
        assert held.wait(60)
        private = sorted(p.name for p in out.iterdir() if p.name.startswith(".quorlix-"))
        assert len(private) == 2
        name = next(n for n in private if f"-{os.getpid()}-" in n)
        assert re.fullmatch(rf"\.quorlix-[A-Za-z0-9._-]+-{os.getpid()}-[a-z0-9]{{8}}", name)
        run = subprocess.run([str(tool), "decode-filing", "--resume", "-o", str(out), str(tmp_path / "in")],
                             capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        assert " 1 .quorlix- entries kept" in run.stderr
        assert [p.name for p in out.iterdir() if p.name.startswith(".quorlix-")] == [name]
    finally:
        release.set()
        live.join()
    assert not [p for p in out.iterdir() if p.name.startswith(".quorlix-")]
