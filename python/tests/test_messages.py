"""The package's words for each status are the tool's, and its schedule labels the decoder's.

The words come from status_words.tsv, from which the build generates the tool's
table too; these tests run the tool and the decoder and compare what they print.
"""
import errno
import os
import subprocess

import pytest

import quorlix
from quorlix._errors import MESSAGES, NOT_REGULAR, describe
from quorlix.schedule import LABEL_COLUMNS, LABELS


def run_tool(tool, *args, cwd):
    return subprocess.run([str(tool), *map(str, args)], cwd=cwd, capture_output=True, text=True, check=False)


def test_the_words_file_covers_every_export():
    exports = {function for function, _ in MESSAGES}
    assert exports == {"CvtCRLF", "CvtHTMLtoText", "CvtDecodeFiling", "CvtVerifyFile", "CvtDelimitedFile",
                       "quorlix_write_schedules"}
    assert len(MESSAGES) >= 37 and set(NOT_REGULAR) <= set(MESSAGES)


def test_the_tool_prints_the_packages_words(tool, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # the words look at the files by the names given
    (tmp_path / "page.doc").write_bytes(b"x")
    (tmp_path / "rows.csv").write_bytes(b"a,b\r\n")
    os.mkfifo(tmp_path / "pipe.txt")
    failures = [  # (export, status, files), the tool's command line
        (("CvtCRLF", 3, ("gone.txt", "out.txt")), ["crlf", "gone.txt", "out.txt"]),
        (("CvtHTMLtoText", 12, ("page.doc", "out.txt")), ["html2text", "page.doc", "out.txt"]),
        (("CvtDecodeFiling", 3, ("gone.txt", "t.txt", "s.txt")), ["decode-filing", "gone.txt", "t.txt", "s.txt"]),
        (("CvtDelimitedFile", 3, ("rows.csv", "out.tsv")), ["delimited", "rows.csv", "out.tsv", "--in-field", ""]),
    ]
    for (function, status, files), args in failures:
        run = run_tool(tool, *args, cwd=tmp_path)
        assert (run.returncode, run.stderr) == (status, f"quorlix: {describe(function, status, files)}\n"), args
    run = run_tool(tool, "verify", "page.doc", cwd=tmp_path)
    assert (run.returncode, run.stdout) == (17, describe("CvtVerifyFile", 17, ("page.doc",)) + "\n")
    # Words that rest on the library's record of the call: the package's exception's.
    with pytest.raises(quorlix.QuorlixOSError) as caught:
        quorlix.crlf("pipe.txt", "out.txt")
    run = run_tool(tool, "crlf", "pipe.txt", "out.txt", cwd=tmp_path)
    assert (run.returncode, run.stderr) == (2, f"quorlix: {caught.value}\n")


def test_labels_are_the_decoders(tmp_path):
    # A schedule with every tag, in the decoder's order: its label column gives each label.
    tags = ["ARTICLE", "MULTIPLIER", "CURRENCY", "PERIOD-TYPE", "FISCAL-YEAR-END", "PERIOD-START", "PERIOD-END",
            "EXCHANGE-RATE", "CASH", "SECURITIES", "RECEIVABLES", "ALLOWANCES", "INVENTORY", "CURRENT-ASSETS", "PP&E",
            "DEPRECIATION", "TOTAL-ASSETS", "CURRENT-LIABILITIES", "BONDS", "PREFERRED-MANDATORY", "PREFERRED",
            "COMMON", "OTHER-SE", "TOTAL-LIABILITY-AND-EQUITY", "SALES", "TOTAL-REVENUES", "CGS", "TOTAL-COSTS",
            "OTHER-EXPENSES", "LOSS-PROVISION", "INTEREST-EXPENSE", "INCOME-PRETAX", "INCOME-TAX",
            "INCOME-CONTINUING", "DISCONTINUED", "EXTRAORDINARY", "CHANGES", "NET-INCOME", "EPS-PRIMARY",
            "EPS-DILUTED"]
    filing = tmp_path / "filing.txt"
    filing.write_bytes("".join(f"<{tag}> 1\n" for tag in tags).encode())
    quorlix.decode_filing(filing, tmp_path / "text.txt", tmp_path / "schedule.txt")
    columns = [line[:LABEL_COLUMNS].rstrip() for line in (tmp_path / "schedule.txt").read_text().splitlines()
               if line.strip()]
    assert columns == [label[:LABEL_COLUMNS] for label in LABELS]


def test_inputs_that_are_not_regular_files_have_their_own_words(tmp_path):
    # The words follow the library's record, and never a look at the files afterwards.
    fifo = tmp_path / "pipe.txt"
    os.mkfifo(fifo)
    special = quorlix._library.Failure(status=2, cause=4, file=1)  # a special file, the input
    assert describe("CvtCRLF", 2, (str(fifo), "out.txt"), special) == \
        f"input file '{fifo}' is not a regular file (status 2)"
    assert describe("CvtCRLF", 2, (str(fifo), "out.txt")).startswith("cannot read input file")


def test_the_librarys_record_makes_the_words_and_the_class_exact(tool, tmp_path):
    # A FIFO input: the library refused it as no regular file, without a look at the path afterwards.
    fifo = tmp_path / "pipe.txt"
    os.mkfifo(fifo)
    with pytest.raises(quorlix.QuorlixOSError) as caught:
        quorlix.crlf(fifo, tmp_path / "out.txt")
    assert str(caught.value) == f"input file '{fifo}' is not a regular file (status 2)"
    # The system's errno where the library saw one: a folder in place of the output.
    (tmp_path / "folder.txt").mkdir()
    (tmp_path / "in.txt").write_bytes(b"a\n")
    with pytest.raises(quorlix.QuorlixOSError) as caught:
        quorlix.crlf(tmp_path / "in.txt", tmp_path / "folder.txt")
    assert caught.value.errno == errno.EISDIR
    # A mismatch in the tool's words: what the check wanted and what the file holds.
    (tmp_path / "icon.gif").write_bytes(b"\x89PNG\r\n")
    records = quorlix.batch.convert(quorlix.verify, [tmp_path / "icon.gif"])
    run = run_tool(tool, "verify", "--report", "-", tmp_path / "icon.gif", cwd=tmp_path)
    assert records[0].meaning.endswith(': contents do not match .gif: does not begin with "GIF" (in any case) '
                                       'but "\\x89PN" (status 18)')
    assert f"{tmp_path / 'icon.gif'}: contents do not match .gif: does not begin" in run.stdout
