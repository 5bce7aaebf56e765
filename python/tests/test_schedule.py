"""Schedules read back from the decoder's own output, on real filings and on made-up ones
that put the layout's corner cases in one place. Expected values were read off the filings."""
import errno
import gzip
import io
import math
import os
import tarfile
import zipfile

import pytest

import quorlix

FILINGS = {
    "2000q1": "filing/apple_10q_2000q1_ex27.txt",
    "1998q3": "filing/apple_10q_1998q3_ex27_flawed_tabs.txt",
    "1997": "filing/apple_10k_1997_ex27.txt",
    "1994": "filing/apple_10k_1994_ims_ex27.txt",
}
HEADER = (b"<SEC-DOCUMENT>0000000000-00-000001.txt : 20000101\n<SEC-HEADER>0000000000-00-000001.hdr.sgml\n"
          b"ACCESSION NUMBER:\t\t0000000000-00-000001\nCONFORMED SUBMISSION TYPE:\t10-K\n"
          b"CONFORMED PERIOD OF REPORT:\t19991231\n\tCOMPANY CONFORMED NAME:\t\tEXAMPLE CORP\n</SEC-HEADER>\n")


def schedule_of(tmp_path, data_dir, name):
    schedule = tmp_path / f"{name}.fds.txt"
    quorlix.decode_filing(data_dir / FILINGS[name], tmp_path / f"{name}.txt", schedule)
    return schedule


def decoded(tmp_path, body, name="made"):
    (tmp_path / f"{name}.in").write_bytes(HEADER + body)
    quorlix.decode_filing(tmp_path / f"{name}.in", tmp_path / f"{name}.txt", tmp_path / f"{name}.fds.txt")
    return tmp_path / f"{name}.fds.txt"


def test_negatives_in_parentheses_and_the_multiplier(tmp_path, data_dir):
    schedule = schedule_of(tmp_path, data_dir, "1997")
    rows = quorlix.read_schedule(schedule)
    assert rows[:3] == [("Article", "5"), ("Multiplier", "1,000,000"), ("Period Type", "YEAR")]
    assert ("Net Income", "(1,045)") in rows and ("Interest Expense", "(72)") in rows
    values = quorlix.schedule_values(schedule)
    assert values["Net Income"] == -1045 and values["Interest Expense"] == -72
    assert values["EPS Primary"] == -8.29 and values["Cash"] == 1230 and values["Article"] == "5"
    scaled = quorlix.schedule_values(schedule, apply_multiplier=True)
    assert scaled["Net Income"] == -1_045_000_000 and scaled["Total Liability & Equity"] == 4_233_000_000
    # Never scaled: per-share values, the article, the multiplier itself, the periods.
    for label in ("EPS Primary", "EPS Diluted", "Article", "Multiplier", "Period End", "Fiscal Year End"):
        assert scaled[label] == values[label]


def test_multiplier_of_thousands_and_blank_lines(tmp_path, data_dir):
    rows = quorlix.read_schedule(schedule_of(tmp_path, data_dir, "1994"))
    assert len(rows) == 37  # 37 tags, no Currency, Period Start or Exchange Rate; blank lines are no rows
    values = quorlix.schedule_values(schedule_of(tmp_path, data_dir, "1994"), apply_multiplier=True)
    assert values["Multiplier"] == 1000
    assert values["Cash"] == 1_203_488_000 and values["Total Liability & Equity"] == 5_302_746_000
    assert values["EPS Primary"] == 2.61


def test_a_tag_the_decoder_does_not_name_keeps_an_empty_label(tmp_path, data_dir):
    schedule = schedule_of(tmp_path, data_dir, "2000q1")
    assert quorlix.read_schedule(schedule)[-3:] == [("Net Income", "183"), ("", "1.14"), ("EPS Diluted", "1.03")]
    values = quorlix.schedule_values(schedule)
    assert "" not in values and values["EPS Diluted"] == 1.03
    # Tabs between tags and values are gone in the decoder's output already.
    flawed = quorlix.schedule_values(schedule_of(tmp_path, data_dir, "1998q3"))
    assert (flawed["Period Type"], flawed["Multiplier"], flawed["EPS Diluted"]) == ("9-MOS", 1e6, 1.40)


def test_empty_values_that_join_the_next_line_are_split_back(tmp_path):
    schedule = decoded(tmp_path, b"<ARTICLE> 5\n<CASH>\n<SECURITIES> 7\n<RECEIVABLES>\n<EPS-BASIC> 1.5\n"
                                 b"<INVENTORY>\n<BONDS>\n(2)\n<NET-INCOME>\n\n<EPS-DILUTED>\n")
    raw = schedule.read_bytes()
    assert b"Cash" + b" " * 36 + b"Securities" in raw  # the layout the reader undoes
    assert quorlix.read_schedule(schedule) == [
        ("Article", "5"), ("Cash", ""), ("Securities", "7"), ("Receivables", ""), ("", "1.5"),
        ("Inventory", ""), ("Bonds", ""), ("", "(2)"), ("Net Income", ""), ("EPS Diluted", "")]


def test_cut_values_stay_cut_and_are_not_read_as_numbers(tmp_path):
    schedule = decoded(tmp_path, b"<ARTICLE> 5\n<CASH> 1,234,567,890,123,456,789\n<SALES> (12,345,678,901,234,567)\n"
                                 b"<cgs>  -1,234\n<BONDS> 7   \n<EPS-DILUTED> .5\n")
    rows = dict(quorlix.read_schedule(schedule))
    assert rows["Cash"] == "4,567,890,123,456,789"[-18:]
    assert rows["Sales"] == "(12,345,678,901,234,567)"[-19:]
    values = quorlix.schedule_values(schedule)
    assert values["Cash"] == rows["Cash"] and values["Sales"] == rows["Sales"]
    assert values["CGS"] == -1234 and values["Bonds"] == 7 and values["EPS Diluted"] == 0.5


def test_two_schedules_in_one_filing_are_told_apart(tmp_path):
    schedule = decoded(tmp_path, b"<ARTICLE> 5\n<MULTIPLIER> 1,000\n<CASH> 10\n<EPS-DILUTED> 1\n"
                                 b"text between\n<ARTICLE> 9\n<CASH> (3)\n<EPS-DILUTED> 2\n")
    assert [len(s) for s in quorlix.read_schedules(schedule)] == [4, 3]
    assert quorlix.schedule_values(schedule, apply_multiplier=True)["Cash"] == 10_000
    second = quorlix.schedule_values(schedule, schedule=2, apply_multiplier=True)
    assert second == {"Article": "9", "Cash": -3, "EPS Diluted": 2}
    assert quorlix.schedule_values(schedule, schedule=3) == {}


def test_a_last_row_without_a_line_end(tmp_path):
    # The filing's last line has no line end, so its row reaches the last column.
    schedule = decoded(tmp_path, b"<ARTICLE> 5\n<EPS-DILUTED> (2.5)")
    assert schedule.read_bytes().endswith(b" (2.5)")
    assert quorlix.schedule_values(schedule) == {"Article": "5", "EPS Diluted": -2.5}


@pytest.mark.parametrize("text, number", [
    ("1,234", 1234), ("(1,234)", -1234), ("-1,234", -1234), ("( 5 )", -5), ("0", 0), ("2.61", 2.61),
    ("(8.29)", -8.29), (".5", 0.5), ("1234567", 1234567),
    ("SEP-30-1994", None), ("3-MOS", None), ("", None), ("()", None), ("1,23", None), ("(-5)", None),
    ("--5", None), ("1.", None), ("5%", None),
])
def test_parse_number(text, number):
    parsed = quorlix.parse_number(text)
    assert parsed == number if number is not None else parsed is None


# ---- schedules_frame: the library's table of the schedules ----

SCHEDULE_FILINGS = ["filing/apple_10k_1994_ims_ex27.txt", "filing/apple_10k_1997_ex27.txt",
                    "filing/apple_10q_1998q3_ex27_flawed_tabs.txt", "filing/apple_10q_2000q1_ex27.txt",
                    "schedules/bank_10k_1997_article9.txt", "schedules/fund_n30d_1997_article6_two_series.txt",
                    "verify/apple_8k_2000_no_ex27.txt"]


def test_wide_frame_one_row_per_schedule_keyed_and_typed(data_dir):
    pandas = pytest.importorskip("pandas")
    paths = [str(data_dir / name) for name in SCHEDULE_FILINGS]
    frame = quorlix.schedules_frame(paths)
    assert list(frame.columns[:23]) == list(quorlix.schedule.WIDE_FIXED_COLUMNS)
    assert len(frame) == 7  # four Apple schedules, the bank's, the fund's two; the 8-K has none
    assert not frame.duplicated(["path", "member", "accession_number", "schedule"]).any()
    assert list(frame["path"]) == paths[:4] + [paths[4], paths[5], paths[5]]
    assert (frame["member"] == "").all()
    assert list(frame["accession_number"][:4]) == ["0000320193-94-000016", "0001047469-97-006960",
                                                   "0000320193-98-000008", "0000912057-00-003201"]
    dtypes = frame.dtypes
    assert str(dtypes["filed"]).startswith("datetime64") and str(dtypes["period"]).startswith("datetime64")
    assert all(str(dtypes[c]) == "Int64" for c in ("cik", "sic", "schedule", "series"))
    assert dtypes["flawed"] == bool and dtypes["complete"] == bool
    assert dtypes["TOTAL-ASSETS"] == "float64" and dtypes["EPS-BASIC"] == "float64"
    assert str(dtypes["FISCAL-YEAR-END"]).startswith("datetime64") and dtypes["PERIOD-TYPE"] == object
    assert dtypes["fiscal_year_end"] == object and list(frame["fiscal_year_end"]) == ["0930"] * 4 + ["1231"] * 3
    assert frame["period"][0] == pandas.Timestamp("1994-09-30") and frame["cik"][4] == 712345
    assert pandas.isna(frame["sic"][5]) and list(frame["series"][5:]) == [11, 12]
    assert list(frame["flawed"][:4]) == [False, False, True, False] and frame["complete"].all()
    # Amounts scaled, per-share figures not; EPS-PRIMARY was written until 1997, EPS-BASIC after.
    assert list(frame["NET-INCOME"][:4]) == [310_178_000, -1_045_000_000, 203_000_000, 183_000_000]
    assert frame["EPS-PRIMARY"][1] == -8.29 and math.isnan(frame["EPS-PRIMARY"][3]) and frame["EPS-BASIC"][3] == 1.14
    assert frame["LOANS"][4] == 1_876_543_000 and frame["DEPOSITS"][4] == 2_101_987_000
    assert frame["SHARES-COMMON-STOCK"][5] == 23_456_000 and frame["PER-SHARE-NAV-END"][5] == 21.3
    assert list(frame["multiplier"]) == [1000, 1e6, 1e6, 1e6, 1000, 1000, 1000] and frame["multiplier"].dtype == "float64"
    assert list(frame["multiplier_source"]) == ["written"] * 7 and not frame["restated"].any()
    assert (frame["unparsed"] == "").all() and (frame["other_tags"] == "").all()


def test_long_frame_one_row_per_value(data_dir):
    pytest.importorskip("pandas")
    frame = quorlix.schedules_frame([data_dir / "filing" / "apple_10k_1997_ex27.txt"], long=True)
    assert len(frame) == 37
    assert list(frame.columns[:21]) == list(quorlix.schedule.FIXED_COLUMNS)
    assert list(frame.columns[21:]) == ["tag", "raw", "value", "scaled"]
    assert frame["value"].dtype == "float64" and frame["scaled"].dtype == "float64"
    rows = frame.set_index("tag")
    assert rows.loc["NET-INCOME", "raw"] == "(1,045)" and rows.loc["NET-INCOME", "value"] == -1045
    assert rows.loc["NET-INCOME", "scaled"] == -1_045_000_000 and rows.loc["EPS-PRIMARY", "scaled"] == -8.29
    # Dates and text have no number; raw keeps them.
    assert math.isnan(rows.loc["PERIOD-END", "value"]) and rows.loc["PERIOD-END", "raw"] == "SEP-26-1997"
    assert math.isnan(rows.loc["PERIOD-TYPE", "scaled"]) and math.isnan(rows.loc["MULTIPLIER", "scaled"])


def test_frame_takes_folders_and_batch_records_on_any_number_of_threads(tmp_path, data_dir):
    pytest.importorskip("pandas")
    folder = tmp_path / "archive" / "1997"
    folder.mkdir(parents=True)
    for name in SCHEDULE_FILINGS[::-1]:
        (folder / name.split("/")[-1]).write_bytes((data_dir / name).read_bytes())
    by_folder = quorlix.schedules_frame([tmp_path / "archive"], jobs=1)
    assert list(by_folder["path"]) == sorted(by_folder["path"], key=os.fsencode)  # names in byte order
    assert len(by_folder) == 7
    assert by_folder.equals(quorlix.schedules_frame([tmp_path / "archive"], jobs=4))
    records = quorlix.batch.decode_filings([tmp_path / "archive"], tmp_path / "decoded")
    by_records = quorlix.schedules_frame(r for r in records if r.status == 0)
    assert by_records.equals(by_folder)


def test_frame_of_no_schedule_has_the_columns_and_no_row(data_dir):
    pytest.importorskip("pandas")
    frame = quorlix.schedules_frame([data_dir / "verify" / "apple_8k_2000_no_ex27.txt"])
    assert list(frame.columns) == list(quorlix.schedule.WIDE_FIXED_COLUMNS) and len(frame) == 0
    assert list(quorlix.schedules_frame([], long=True).columns)[-4:] == ["tag", "raw", "value", "scaled"]


def test_frame_raises_for_an_input_it_cannot_read(tmp_path, data_dir):
    pytest.importorskip("pandas")
    good = data_dir / "filing" / "apple_10q_2000q1_ex27.txt"
    with pytest.raises(FileNotFoundError) as raised:
        quorlix.schedules_frame([good, tmp_path / "absent.txt", tmp_path / "gone.txt"])
    assert raised.value.status == 3 and raised.value.function == "quorlix_write_schedules"
    assert str(raised.value) == f"filing '{tmp_path / 'absent.txt'}' not found (status 3); 1 more inputs failed"


# ---- Archives as EDGAR distributes them ----

def _sample_filings(data_dir):
    return [(name.split("/")[-1], (data_dir / name).read_bytes()) for name in SCHEDULE_FILINGS[:4]]


def _rows_without_path_and_member(frame):
    return frame.drop(columns=["path", "member"]).reset_index(drop=True)


def test_frame_reads_tar_zip_and_gzip_archives_as_their_filings(tmp_path, data_dir):
    pytest.importorskip("pandas")
    filings = _sample_filings(data_dir)
    plain = quorlix.schedules_frame([data_dir / name for name in SCHEDULE_FILINGS[:4]])
    with tarfile.open(tmp_path / "20000201.nc.tar.gz", "w:gz") as archive:
        for name, data in filings:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    with zipfile.ZipFile(tmp_path / "20000202.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in filings:
            archive.writestr(name, data)
    (tmp_path / "20000203.nc.gz").write_bytes(gzip.compress(b"".join(data for _, data in filings)))
    for name, members in (("20000201.nc.tar.gz", [n for n, _ in filings]),
                          ("20000202.zip", [n for n, _ in filings]), ("20000203.nc.gz", [""] * 4)):
        frame = quorlix.schedules_frame([tmp_path / name])
        assert list(frame["member"]) == members, name
        assert (frame["path"] == str(tmp_path / name)).all()
        assert _rows_without_path_and_member(frame).equals(_rows_without_path_and_member(plain)), name


def test_frame_names_a_damaged_archives_member(tmp_path, data_dir):
    pytest.importorskip("pandas")
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz") as archive:
        for name, data in _sample_filings(data_dir):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            archive.addfile(info, io.BytesIO(data))
    cut = tmp_path / "cut.tar.gz"
    cut.write_bytes(buffer.getvalue()[:len(buffer.getvalue()) // 2])
    with pytest.raises(OSError) as raised:
        quorlix.schedules_frame([cut])
    assert raised.value.status == 2
    assert str(raised.value).startswith(f"cannot read '{cut}': member 'apple_10k_1997_ex27.txt': ")


def test_frame_reads_a_file_once_and_names_it_as_utf8_text(tmp_path, data_dir):
    pytest.importorskip("pandas")
    folder = tmp_path / "archive" / "320193"
    folder.mkdir(parents=True)
    latin = os.fsdecode(bytes(folder) + b"/d\xe9c.txt")
    with open(latin, "wb") as file:
        file.write((data_dir / "filing" / "apple_10q_2000q1_ex27.txt").read_bytes())
    frame = quorlix.schedules_frame([tmp_path / "archive", folder])  # the folder twice over
    assert len(frame) == 1
    assert frame["path"][0] == str(folder) + "/d\\xe9c.txt"  # as the tool's table writes it


# ---- Typed columns, the tag dictionary and the panel ----

def test_a_columns_type_comes_from_its_tags_kind_not_its_cells(tmp_path, data_dir):
    pytest.importorskip("pandas")
    made = tmp_path / "made.txt"
    made.write_bytes(HEADER + b"<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<MULTIPLIER> THOUSANDS\n"
                              b"<PERIOD-END> 12/31/1999\n<TOTAL-REVENUES> N/A\n<TOTAL-ASSETS> 1,000\n"
                              b"<NOT-A-TAG> N/A\n</TEXT>\n</DOCUMENT>\n")
    cut = data_dir / "schedules" / "apple_10q_2000q1_cut_in_schedule.txt"
    frame = quorlix.schedules_frame([made, cut, data_dir / "filing" / "apple_10q_2000q1_ex27.txt"])
    # One cell that is not a number, or a date written otherwise, no longer turns the column into text.
    assert frame["TOTAL-REVENUES"].dtype == "float64" and str(frame["PERIOD-END"].dtype).startswith("datetime64")
    assert frame["TOTAL-ASSETS"].dtype == "float64"
    assert frame["unparsed"][0] == "PERIOD-END=12/31/1999; TOTAL-REVENUES=N/A"
    assert frame["unparsed"][1] == "TOTAL-ASSETS=7,5" and math.isnan(frame["TOTAL-ASSETS"][1])
    assert frame["TOTAL-ASSETS"][0] == 1_000_000 and frame["TOTAL-ASSETS"][2] == 7_586_000_000
    assert (frame["multiplier"][0], frame["multiplier_source"][0]) == (1000, "words")
    assert frame["NOT-A-TAG"].dtype == object  # not in the dictionary: typed by its cells, as before
    # An article the dictionary does not hold keeps the general rules in the table; the frame keeps what it drops.
    other = tmp_path / "other.txt"
    other.write_bytes(HEADER + b"<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 12\n<CASH> N/A\n</TEXT>\n</DOCUMENT>\n")
    both = quorlix.schedules_frame([other, made])
    assert both["CASH"].dtype == "float64" and list(both["unparsed"][:1]) == ["CASH=N/A"]
    assert frame["TOTAL-REVENUES"].sum() == 2_343_000_000  # a sum of numbers, not of strings


def test_max_columns_caps_the_tags_and_keeps_the_rest_as_text(tmp_path):
    pytest.importorskip("pandas")
    made = tmp_path / "made.txt"
    made.write_bytes(HEADER + b"<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<OWN-ONE> 1\n<OWN-TWO> 2\n<CASH> 3\n"
                              b"<ARTICLE> 5\n<OWN-TWO> 4\n<NOTE> =SUM(A1)\n</TEXT>\n</DOCUMENT>\n")
    frame = quorlix.schedules_frame([made], max_columns=2)
    # CASH is the dictionary's; OWN-TWO is in the most schedules of the others.
    assert list(frame.columns[-4:]) == ["unparsed", "other_tags", "OWN-TWO", "CASH"]
    assert list(frame["other_tags"]) == ["OWN-ONE=1", "NOTE==SUM(A1)"] and frame["other_tags"].dtype == object
    assert list(frame["OWN-TWO"]) == [2, 4]
    everything = quorlix.schedules_frame([made], spreadsheet_safe=True)
    assert list(everything.columns[-4:]) == ["OWN-ONE", "OWN-TWO", "CASH", "NOTE"]
    assert everything["NOTE"][1] == "'=SUM(A1)" and (everything["other_tags"] == "").all()
    with pytest.raises(ValueError):
        quorlix.schedules_frame([made], max_columns=0)


def test_the_tag_dictionary_is_the_one_the_tool_prints(tool):
    pytest.importorskip("pandas")
    import subprocess
    dictionary = quorlix.tag_dictionary()
    assert list(dictionary.columns) == ["article", "tag", "kind", "label", "concept"]
    assert set(dictionary["article"]) == {"5", "6", "7", "9", "UT", "BD"}
    assert not dictionary.duplicated(["article", "tag"]).any()
    printed = subprocess.run([tool, "tags"], capture_output=True, check=True).stdout.decode()
    rows = ["article,tag,kind,label,concept"] + [
        ",".join(f'"{field}"' if "," in field else field for field in row) for row in dictionary.itertuples(index=False)]
    assert printed == "\r\n".join(rows) + "\r\n"
    cash = dictionary[(dictionary["article"] == "5") & (dictionary["tag"] == "CURRENT-ASSETS")].iloc[0]
    assert (cash["kind"], cash["label"], cash["concept"]) == ("stock", "Currents Assets", "")


PANEL_YEAR = ["panel/example_10q_1999q1.txt", "panel/example_10q_1999q2.txt", "panel/example_10q_1999q3.txt",
              "panel/example_10k_1999_restating_two_years.txt", "panel/example_10ka_1999.txt"]


def test_panel_frame_keyed_typed_and_with_derived_quarters(data_dir):
    pandas = pytest.importorskip("pandas")
    frame = quorlix.panel_frame([data_dir / name for name in PANEL_YEAR], jobs=2)
    assert list(frame.columns[:27]) == list(quorlix.schedule.PANEL_COLUMNS)
    assert not frame.duplicated(list(quorlix.schedule.PANEL_KEY)).any()
    assert frame.equals(frame.sort_values(list(quorlix.schedule.PANEL_KEY), ignore_index=True))
    assert frame["cik"].dtype == "Int64" and frame["months"].dtype == "int64" and frame["derived"].dtype == bool
    assert str(frame["period_end"].dtype).startswith("datetime64") and frame["net_income"].dtype == "float64"
    year = frame[frame["period_end"] == pandas.Timestamp("1999-12-31")]
    quarters = frame[frame["derived"]]
    assert list(quarters["revenue"]) == [1_100_000, 1_200_000, 1_300_000]
    assert list(quarters["net_income"]) == [130_000, 130_000, 140_000]
    assert quarters["vintages"].isna().all() and quarters["eps_basic"].isna().all()
    assert year[~year["derived"]]["vintages"].iloc[0] == 2  # the 10-K and its amendment
    # The fiscal year adds up: the four quarters' net income is the year's.
    fiscal = frame[(frame["months"] == 3) & (frame["period_end"].dt.year == 1999)]
    assert fiscal["net_income"].sum() == year[year["months"] == 12]["net_income"].iloc[0]


def test_panel_frame_first_and_latest_vintages(data_dir):
    pytest.importorskip("pandas")
    paths = [data_dir / name for name in PANEL_YEAR]
    first = quorlix.panel_frame(paths).set_index(list(quorlix.schedule.PANEL_KEY))
    latest = quorlix.panel_frame(paths, vintage="latest").set_index(list(quorlix.schedule.PANEL_KEY))
    differs = first["net_income"].ne(latest["net_income"])
    assert list(first[differs]["form_type"]) == ["10-Q;10-K", "10-K"]
    assert list(latest[differs]["form_type"]) == ["10-Q;10-K/A", "10-K/A"]
    with pytest.raises(ValueError):
        quorlix.panel_frame(paths, vintage="last")


def test_panel_frame_is_the_tools_panel(tool, data_dir):
    pandas = pytest.importorskip("pandas")
    import subprocess
    paths = [str(data_dir / name) for name in PANEL_YEAR]
    printed = subprocess.run([tool, "panel", "-q", *paths], capture_output=True, check=True).stdout
    from_tool = pandas.read_csv(io.BytesIO(printed), dtype=str, keep_default_na=False)
    frame = quorlix.panel_frame(paths)
    assert list(from_tool.columns) == list(frame.columns) and len(from_tool) == len(frame)
    assert list(from_tool["net_income"]) == [f"{v:.0f}" if v == v else "" for v in frame["net_income"]]


# ---- Failures collected, fixed tag columns, numbers beyond float64, the database ----

def test_collected_failures_keep_every_schedule_read(tmp_path, data_dir):
    pytest.importorskip("pandas")
    good = data_dir / "filing" / "apple_10q_2000q1_ex27.txt"
    damaged = tmp_path / "damaged.txt.gz"
    damaged.write_bytes(gzip.compress((data_dir / FILINGS["1997"]).read_bytes())[:200])
    frame = quorlix.schedules_frame([good, tmp_path / "absent.txt", damaged], errors="collect")
    assert len(frame) == 1 and frame["TOTAL-ASSETS"][0] == 7_586_000_000
    failures = frame.attrs["failures"]
    assert [(path, status) for path, status, _ in failures] == [(str(tmp_path / "absent.txt"), 3), (str(damaged), 2)]
    assert failures[0][2] == f"filing '{tmp_path / 'absent.txt'}' not found (status 3)"
    assert failures[1][2].startswith(f"cannot read '{damaged}': ")
    assert quorlix.schedules_frame([good], errors="collect").attrs["failures"] == []
    panel = quorlix.panel_frame([good, tmp_path / "absent.txt"], errors="collect")
    assert len(panel) == 1 and len(panel.attrs["failures"]) == 1
    with pytest.raises(FileNotFoundError):
        quorlix.panel_frame([good, tmp_path / "absent.txt"])
    with pytest.raises(ValueError):
        quorlix.schedules_frame([good], errors="ignore")


def test_failures_in_walked_folders_are_named_by_their_paths_once(tmp_path, data_dir):
    pytest.importorskip("pandas")
    folder = tmp_path / "in"
    folder.mkdir()
    (folder / "a.txt").write_bytes((data_dir / "filing" / "apple_10q_2000q1_ex27.txt").read_bytes())
    damaged = folder / "b.txt.gz"
    damaged.write_bytes(gzip.compress((data_dir / FILINGS["1997"]).read_bytes())[:200])
    # The folder named twice: each file is read once, its failure told once.
    frame = quorlix.schedules_frame([folder, tmp_path / "absent.txt", folder], errors="collect", jobs=2)
    assert len(frame) == 1 and list(frame["path"]) == [str(folder / "a.txt")]
    failures = frame.attrs["failures"]
    assert [(path, status) for path, status, _ in failures] == [(str(damaged), 2), (str(tmp_path / "absent.txt"), 3)]


def test_a_failure_is_told_in_the_words_of_the_librarys_record(tmp_path, data_dir):
    pytest.importorskip("pandas")
    good = data_dir / "filing" / "apple_10q_2000q1_ex27.txt"
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    frame = quorlix.schedules_frame([good, pipe], errors="collect")
    assert frame.attrs["failures"] == [(str(pipe), 2, f"filing '{pipe}' is not a regular file (status 2)")]
    # The errno comes from the record too.
    with pytest.raises(FileNotFoundError) as raised:
        quorlix.schedules_frame([tmp_path / "absent.txt"])
    assert raised.value.errno == errno.ENOENT


def test_tags_fix_the_wide_columns_and_their_types(data_dir):
    pytest.importorskip("pandas")
    good = data_dir / "filing" / "apple_10q_2000q1_ex27.txt"
    tags = ["TOTAL-ASSETS", "CIK", "EPS-BASIC", "PERIOD-END"]
    frame = quorlix.schedules_frame([good], tags=tags)
    assert list(frame.columns) == list(quorlix.schedule.WIDE_FIXED_COLUMNS) + tags
    assert frame["TOTAL-ASSETS"][0] == 7_586_000_000 and frame["EPS-BASIC"][0] == 1.14
    assert frame["CIK"].isna().all() or (frame["CIK"] == "").all()  # absent, yet there
    empty = quorlix.schedules_frame([], tags=tags)
    assert list(empty.columns) == list(frame.columns) and len(empty) == 0
    assert empty["TOTAL-ASSETS"].dtype == "float64" and str(empty["PERIOD-END"].dtype).startswith("datetime64")
    with pytest.raises(ValueError):
        quorlix.schedules_frame([good], tags=["CASH", "CASH"])


def test_a_number_beyond_float64_is_unparsed_not_inf(tmp_path):
    pytest.importorskip("pandas")
    import warnings
    huge = b"9" * 400
    made = tmp_path / "huge.txt"
    made.write_bytes(HEADER + b"<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<CASH> 12\n<TOTAL-ASSETS> " + huge +
                     b"\n</TEXT>\n</DOCUMENT>\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a frame built in fragments warns
        frame = quorlix.schedules_frame([made])
    assert math.isnan(frame["TOTAL-ASSETS"][0]) and frame["CASH"][0] == 12
    assert frame["unparsed"][0] == "TOTAL-ASSETS=" + huge.decode()


def test_read_database_gives_the_views_and_tables(tmp_path, data_dir, tool):
    pytest.importorskip("pandas")
    import sqlite3
    import subprocess
    folder = data_dir / "schedules"
    database = tmp_path / "fds.sqlite"
    subprocess.run([str(tool), "schedules", "-q", "-o", str(database), str(folder)], check=True)
    wide5 = quorlix.read_database(database, article="05")
    assert list(wide5["company"]) == ["APPLE COMPUTER INC", "APPLE COMPUTER INC"]
    assert wide5["TOTAL-REVENUES"][1] == 1_945_000_000
    every = quorlix.read_database(database)
    assert len(every) == 5 and {"TOTAL-ASSETS", "INTEREST-LOAN"} <= set(every.columns)
    facts = quorlix.read_database(database, "facts")
    long = quorlix.schedules_frame([folder], long=True)
    assert len(facts) == len(long) and list(facts["tag"]) == list(long["tag"])
    assert len(quorlix.read_database(database, "facts", article="9")) == len(long[long["article"] == "9"])
    with pytest.raises(ValueError):
        quorlix.read_database(database, "nothing")
    connection = sqlite3.connect(database)
    connection.execute("UPDATE quorlix_meta SET value = '3' WHERE key = 'format_version'")
    connection.commit()
    connection.close()
    with pytest.raises(quorlix.QuorlixFormatError):
        quorlix.read_database(database)


def test_dask_partitions_on_two_worker_processes_give_the_frame_of_one_call(data_dir):
    pytest.importorskip("pandas")
    distributed = pytest.importorskip("distributed")
    import pandas
    import quorlix.dask
    inputs = [data_dir / "filing", data_dir / "schedules", data_dir / "panel"]
    tags = ["TOTAL-ASSETS", "TOTAL-REVENUES", "NET-INCOME", "EPS-PRIMARY", "PERIOD-END", "CIK"]
    frame = quorlix.dask.schedules_dataframe(inputs, partitions=3, tags=tags)
    assert frame.npartitions == 3
    assert list(frame.columns) == list(quorlix.schedule.WIDE_FIXED_COLUMNS) + tags
    assert frame.dtypes["TOTAL-ASSETS"] == "float64" and str(frame.dtypes["PERIOD-END"]).startswith("datetime64")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=50) as cluster, distributed.Client(cluster):
        computed = frame.compute()
    one = quorlix.schedules_frame(inputs, tags=tags)
    assert len(one) > 10
    pandas.testing.assert_frame_equal(computed.reset_index(drop=True), one)
    # Without tags=, every dictionary tag is a column, and the meta says so before any partition is read.
    whole = quorlix.dask.schedules_dataframe(inputs)
    dictionary_tags = list(quorlix.tag_dictionary()["tag"].drop_duplicates())
    assert whole.npartitions == 1 and list(whole.columns)[len(quorlix.schedule.WIDE_FIXED_COLUMNS):] == dictionary_tags
