"""The conversions as a Python caller uses them: success, each kind of failure, every kind of path."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

import quorlix

FILING = "filing/apple_10q_2000q1_ex27.txt"


def test_library_version():
    assert quorlix.library_version() == 103


def test_crlf_converts_and_skips_blank_lines(tmp_path):
    src = tmp_path / "in.txt"
    src.write_bytes(b"one\n\ntwo\rthree\tend\r\n")
    quorlix.crlf(src, tmp_path / "out.txt")
    assert (tmp_path / "out.txt").read_bytes() == b"one\r\n\r\ntwo\r\nthreeend\r\n"
    quorlix.crlf(src, tmp_path / "out.txt", skip_blank=True)
    assert (tmp_path / "out.txt").read_bytes() == b"one\r\ntwo\r\nthreeend\r\n"


@pytest.mark.parametrize("make_path", [str, os.fsencode, Path], ids=["str", "bytes", "PathLike"])
def test_every_kind_of_path(tmp_path, make_path):
    src = tmp_path / "in.txt"
    src.write_bytes(b"a\nb\n")
    quorlix.crlf(make_path(str(src)), make_path(str(tmp_path / "out.txt")))
    assert (tmp_path / "out.txt").read_bytes() == b"a\r\nb\r\n"


def test_non_ascii_paths(tmp_path):
    # A name in the file-system encoding and a name that is no valid UTF-8 at all.
    folder = tmp_path / "r\u00e9sum\u00e9s"
    folder.mkdir()
    (folder / "in.txt").write_bytes(b"x\n")
    quorlix.crlf(folder / "in.txt", folder / "\u00fcber.txt")
    assert (folder / "\u00fcber.txt").read_bytes() == b"x\r\n"
    raw = os.fsencode(tmp_path) + b"/latin1-\xe9.txt"
    quorlix.crlf(folder / "in.txt", raw)
    assert open(raw, "rb").read() == b"x\r\n"
    with pytest.raises(FileNotFoundError) as caught:
        quorlix.crlf(os.fsencode(tmp_path) + b"/gone-\xe9.txt", tmp_path / "o.txt")
    assert "gone-" in str(caught.value)


def test_missing_input_is_file_not_found_with_the_tools_words(tmp_path):
    missing = tmp_path / "missing.txt"
    with pytest.raises(FileNotFoundError) as caught:
        quorlix.crlf(missing, tmp_path / "out.txt")
    error = caught.value
    assert isinstance(error, quorlix.QuorlixError)
    assert (error.status, error.function) == (3, "CvtCRLF")
    assert str(error) == f"input file '{missing}' not found (status 3)"
    assert error.filename == str(missing)


def test_output_in_a_missing_folder_is_an_output_error(tmp_path, data_dir):
    with pytest.raises(OSError) as caught:
        quorlix.crlf(data_dir / "crlf" / "mixed_line_ends.txt", tmp_path / "no" / "out.txt")
    assert caught.value.status == 6
    assert str(caught.value) == f"cannot create or write output file '{tmp_path / 'no' / 'out.txt'}' (status 6)"


def test_folder_as_input_is_an_os_error(tmp_path):
    with pytest.raises(OSError) as caught:
        quorlix.crlf(tmp_path, tmp_path / "out.txt")
    assert not isinstance(caught.value, FileNotFoundError)
    assert caught.value.status == 2


def test_html_to_text_whole_page_and_tables_only(tmp_path, data_dir):
    page = data_dir / "html" / "edgar_ex21_2012_subsidiaries.htm"
    quorlix.html_to_text(page, tmp_path / "tables.txt", tables_only=True)
    assert (tmp_path / "tables.txt").read_bytes() == (
        data_dir / "html" / "edgar_ex21_2012_subsidiaries.expected.txt").read_bytes()
    quorlix.html_to_text(page, tmp_path / "all.txt")
    assert (tmp_path / "all.txt").stat().st_size > (tmp_path / "tables.txt").stat().st_size


@pytest.mark.parametrize("src, dst, status", [
    ("page.html", "out.doc", 11),
    ("page.txt", "out.txt", 12),
    ("page.txt", "out.doc", 10),
])
def test_html_wrong_suffix_is_a_value_error(tmp_path, src, dst, status):
    (tmp_path / src).write_bytes(b"<BODY>x</BODY>")
    with pytest.raises(ValueError) as caught:
        quorlix.html_to_text(tmp_path / src, tmp_path / dst)
    assert caught.value.status == status
    assert not (tmp_path / dst).exists()


def test_html_without_body_is_a_format_error(tmp_path, data_dir):
    with pytest.raises(quorlix.QuorlixFormatError) as caught:
        quorlix.html_to_text(data_dir / "html" / "libtiff34_support_no_body_tag.htm", tmp_path / "out.txt")
    assert caught.value.status == 13
    assert "no body found in" in str(caught.value)


def test_decode_filing_writes_both_outputs(tmp_path, data_dir):
    quorlix.decode_filing(data_dir / FILING, tmp_path / "text.txt", tmp_path / "fds.txt")
    assert b"COMPANY CONFORMED NAME:APPLE COMPUTER INC\r\n" in (tmp_path / "text.txt").read_bytes()
    assert (tmp_path / "fds.txt").read_bytes().startswith(b"Article" + b" " * 30 + b"5\r\n")


def test_decode_filing_failures(tmp_path, data_dir):
    with pytest.raises(FileNotFoundError) as caught:
        quorlix.decode_filing(tmp_path / "none.txt", tmp_path / "t.txt", tmp_path / "s.txt")
    assert (caught.value.status, caught.value.function) == (3, "CvtDecodeFiling")
    with pytest.raises(OSError) as caught:
        quorlix.decode_filing(data_dir / FILING, tmp_path / "same.txt", tmp_path / "same.txt")
    assert caught.value.status == 2
    assert "or both outputs one file" in str(caught.value)


def test_verify_agrees_disagrees_and_raises(tmp_path, data_dir):
    assert quorlix.verify(data_dir / "win32" / "picture.gif") is True
    fake = tmp_path / "fake.GIF"
    fake.write_bytes(b"not a picture at all")
    assert quorlix.verify(fake) is False
    with pytest.raises(FileNotFoundError) as caught:
        quorlix.verify(tmp_path / "gone.gif")
    assert str(caught.value) == f"{tmp_path / 'gone.gif'}: not found (status 3)"
    with pytest.raises(ValueError) as caught:
        quorlix.verify(tmp_path / "file.xyz")
    assert caught.value.status == 17


def test_convert_delimited_defaults_and_byte_delimiters(tmp_path):
    src = tmp_path / "in.csv"
    src.write_bytes(b"a,b\r\nc,d\r\n")
    quorlix.convert_delimited(src, tmp_path / "out.tsv")
    assert (tmp_path / "out.tsv").read_bytes() == b"a\tb\r\nc\td\r\n"
    src.write_bytes(b"a;b|c;d|")
    quorlix.convert_delimited(src, tmp_path / "out.txt", in_record=b"|", in_field=";", out_field=b"::",
                              out_record="\n")
    assert (tmp_path / "out.txt").read_bytes() == b"a::b\nc::d\n"


def test_convert_delimited_failures(tmp_path):
    src = tmp_path / "in.csv"
    src.write_bytes(b"a,b\r\n")
    with pytest.raises(ValueError) as caught:
        quorlix.convert_delimited(src, tmp_path / "out.tsv", in_field="")
    assert (caught.value.status, str(caught.value)) == (3, "the input field delimiter is empty (status 3)")
    with pytest.raises(ValueError) as caught:
        quorlix.convert_delimited(src, tmp_path / "out.tsv", in_record=b"")
    assert caught.value.status == 4
    with pytest.raises(quorlix.QuorlixFormatError) as caught:
        quorlix.convert_delimited(src, tmp_path / "out.tsv", in_record="\u00a7")
    assert caught.value.status == 5
    with pytest.raises(OSError) as caught:
        quorlix.convert_delimited(tmp_path / "none.csv", tmp_path / "out.tsv")
    assert caught.value.status == 1


def test_nul_bytes_are_refused_before_the_call(tmp_path):
    with pytest.raises(ValueError, match="NUL"):
        quorlix.crlf("a\0b.txt", tmp_path / "out.txt")
    with pytest.raises(ValueError, match="NUL"):
        quorlix.convert_delimited(tmp_path / "a", tmp_path / "b", in_field=b",\0")


def test_errors_survive_pickling():
    import pickle
    from quorlix._errors import error_for
    error = pickle.loads(pickle.dumps(error_for("CvtCRLF", 3, ("a.txt", "b.txt"))))
    assert isinstance(error, FileNotFoundError) and error.status == 3 and error.errno == 2
    assert str(error) == "input file 'a.txt' not found (status 3)"


def test_missing_library_says_where_it_looked(tmp_path):
    env = dict(os.environ, QUORLIX_LIBRARY=str(tmp_path / "nowhere.so"))
    code = "import quorlix\ntry:\n    quorlix.library_version()\nexcept ImportError as e:\n    print(e)\n"
    result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    assert "cannot load the quorlix library" in result.stdout
    assert "$QUORLIX_LIBRARY: " + str(tmp_path / "nowhere.so") in result.stdout
    # The package itself imports without the library: the schedule readers need none.
    result = subprocess.run([sys.executable, "-c", "import quorlix; print(quorlix.parse_number('(1,045)'))"],
                            env=env, capture_output=True, text=True, check=True)
    assert result.stdout.strip() == "-1045.0"


def test_an_input_past_the_line_end_limit_is_too_large_not_out_of_memory(tmp_path):
    big = tmp_path / "big.txt"
    with open(big, "wb") as file:
        file.truncate(2**31)  # sparse: the conversion refuses it by its size before reading
    with pytest.raises(quorlix.InputTooLargeError) as caught:
        quorlix.crlf(big, tmp_path / "out.txt")
    assert isinstance(caught.value, ValueError) and not isinstance(caught.value, MemoryError)
    assert caught.value.status == 18
    assert str(caught.value) == (f"'{big}' is 2147483648 bytes, more than the line-end conversion takes "
                                 "(2147483647 bytes) (status 18)")
    assert not (tmp_path / "out.txt").exists()
