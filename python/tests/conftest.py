"""Runs the package from this source tree against the library just built.

QUORLIX_LIBRARY names the library to test; without it, the release build's is
used. The same settings go into the environment, so that Dask's worker
processes import this package and load the same library.
"""
import os
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
REPO_DIR = PYTHON_DIR.parent
DATA_DIR = REPO_DIR / "tests" / "data"

os.environ.setdefault("QUORLIX_LIBRARY", str(REPO_DIR / "build" / "release" / "src" / "libquorlix.so"))
os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(PYTHON_DIR), os.environ.get("PYTHONPATH")]))
sys.path.insert(0, str(PYTHON_DIR))


@pytest.fixture
def data_dir() -> Path:
    return DATA_DIR


@pytest.fixture
def repo_dir() -> Path:
    return REPO_DIR
