"""The package's words for each status are the tool's, and its schedule labels the decoder's.

Both tables are read from the C++ sources, so a change on either side fails here
until the other follows.
"""
import os
import re

from quorlix._errors import MESSAGES, NOT_REGULAR, describe
from quorlix.schedule import LABELS

EXPORT_OF_KEY = {"kCrlf": "CvtCRLF", "kHtml": "CvtHTMLtoText", "kFiling": "CvtDecodeFiling",
                 "kVerify": "CvtVerifyFile", "kDelimited": "CvtDelimitedFile", "kSchedules": "quorlix_write_schedules"}

# One row of the tool's table: {Export::kCrlf, 3 or QUORLIX_CRLF_..., "words" "more words"},
ROW = re.compile(r'\{\s*Export::(\w+)\s*,\s*(\w+)\s*,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\}')
STRING = re.compile(r'"((?:[^"\\]|\\.)*)"')
DEFINE = re.compile(r"^#define\s+(QUORLIX_\w+)\s+(-?\d+)\b", re.MULTILINE)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


def tool_messages(repo_dir, table_name="kStatusMessages"):
    numbers = {name: int(value) for name, value in DEFINE.findall((repo_dir / "include" / "quorlix.h").read_text())}
    source = (repo_dir / "cli" / "status_messages.cpp").read_text()
    # One table only: the words for inputs that are not regular files have their own.
    start = source.index(table_name + "[] = {")
    source = source[start:source.index("};", start)]
    table = {}
    for key, status, strings in ROW.findall(source):
        number = int(status) if status.lstrip("-").isdigit() else numbers[status]
        table[(EXPORT_OF_KEY[key], number)] = "".join(unescape(s) for s in STRING.findall(strings))
    return table


def test_every_status_has_the_tools_words(repo_dir):
    tool = tool_messages(repo_dir)
    assert len(tool) >= 30, "the tool's table was not found; has its layout changed?"
    differences = {key: (tool.get(key), MESSAGES.get(key)) for key in tool.keys() | MESSAGES.keys()
                   if tool.get(key) != MESSAGES.get(key)}
    assert differences == {}, "(tool, package) words differ"


def test_every_status_of_the_header_has_words(repo_dir):
    header = (repo_dir / "include" / "quorlix.h").read_text()
    prefixes = {"CRLF": "CvtCRLF", "HTML": "CvtHTMLtoText", "FILING": "CvtDecodeFiling",
                "VERIFY": "CvtVerifyFile", "DELIMITED": "CvtDelimitedFile"}
    statuses = {(prefixes[name.split("_")[1]], int(value)) for name, value in DEFINE.findall(header)
                if name.split("_")[1] in prefixes}
    # The schedules' inputs get the decoder's filing statuses.
    schedules = {("quorlix_write_schedules", number) for function, number in statuses if function == "CvtDecodeFiling"}
    assert statuses | schedules == set(MESSAGES)


def test_labels_are_the_decoders(repo_dir):
    source = (repo_dir / "src" / "filing" / "filing_tags.cpp").read_text()
    decoder = re.findall(r'\{"<[^"]+>", kScheduleRow, "([^"]+)"', source)
    assert tuple(decoder) == LABELS


def test_inputs_that_are_not_regular_files_have_the_tools_words(repo_dir, tmp_path):
    assert tool_messages(repo_dir, "kNotRegularWords") == NOT_REGULAR
    fifo = tmp_path / "pipe.txt"
    os.mkfifo(fifo)
    assert describe("CvtCRLF", 2, (str(fifo), "out.txt")) == f"input file '{fifo}' is not a regular file (status 2)"
    assert describe("CvtCRLF", 2, (str(tmp_path), "out.txt")).startswith("cannot read input file")
