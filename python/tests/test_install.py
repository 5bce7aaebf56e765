"""The package installs offline into a virtual environment with Debian's packaging tools alone."""
import os
import shutil
import subprocess
import sys

import pytest


def test_venv_install_without_network(tmp_path):
    if not shutil.which("pip3") and subprocess.run([sys.executable, "-m", "pip", "--version"],
                                                   capture_output=True).returncode != 0:
        pytest.skip("pip is not installed")
    # The package as it stands in the sources: python/ beside the data/ folder it installs from.
    source = tmp_path / "source" / "python"
    package_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    shutil.copytree(package_dir, source, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info",
                                                                        "__pycache__"))
    shutil.copytree(os.path.join(os.path.dirname(package_dir), "data"), tmp_path / "source" / "data")
    env_dir = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(env_dir)], check=True)
    subprocess.run([str(env_dir / "bin" / "pip"), "install", "-q", "--no-index", "--no-build-isolation",
                    str(source)], check=True, capture_output=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    result = subprocess.run([str(env_dir / "bin" / "python"), "-c",
                             "import quorlix, quorlix._data as d; print(quorlix.__file__); "
                             "print(quorlix.library_version()); print(d.data_file('fds_tags.tsv'))"],
                            cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
    installed, version, tags = result.stdout.split()
    assert installed.startswith(str(env_dir)) and version == "103"
    assert tags.startswith(str(env_dir))  # the installed copy of the dictionary, not the sources'
    assert "status_words.tsv" in os.listdir(os.path.dirname(tags))
