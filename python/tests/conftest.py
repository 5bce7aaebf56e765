"""Runs the package from this source tree against the library just built.

QUORLIX_LIBRARY names the library to test and QUORLIX_TOOL the quorlix tool that
tests compare the package with; without them, the release build's are used. The same settings go into the environment, so that Dask's worker
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


@pytest.fixture
def tool() -> Path:
    """The quorlix tool; tests that compare the package with it skip when it is not built."""
    path = Path(os.environ.get("QUORLIX_TOOL", REPO_DIR / "build" / "release" / "cli" / "quorlix"))
    if not path.is_file():
        pytest.skip(f"no quorlix tool at {path}")
    return path
