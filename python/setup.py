"""The package's build: pyproject.toml says what it is; this copies the data files
it shares with the library's build (../data/*.tsv) into the package as it is built."""
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

DATA_DIR = Path(__file__).resolve().parent.parent / "data"
DATA_FILES = ("status_words.tsv", "fds_tags.tsv")


class BuildWithData(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "quorlix" / "data"
        target.mkdir(parents=True, exist_ok=True)
        for name in DATA_FILES:
            if not (DATA_DIR / name).is_file():
                raise FileNotFoundError(f"{DATA_DIR / name}: build the package from the source tree, "
                                        "whose data/ folder it installs")
            shutil.copyfile(DATA_DIR / name, target / name)


setup(cmdclass={"build_py": BuildWithData})
