"""The data files the package shares with the library's build (the status words,
the tag dictionary). They live in the source tree's data/ folder, neither side's
own; an installed package has them beside it, in quorlix/data/ (setup.py copies them).
"""
from __future__ import annotations

from pathlib import Path

_PLACES = (Path(__file__).resolve().parent / "data", Path(__file__).resolve().parents[2] / "data")


def data_file(name: str) -> Path:
    """The path of one shared data file: the installed copy, else the source tree's."""
    for folder in _PLACES:
        path = folder / name
        if path.is_file():
            return path
    raise FileNotFoundError(f"quorlix data file {name} is in none of: " + ", ".join(map(str, _PLACES)))
