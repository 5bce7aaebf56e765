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
    source = tmp_path / "source"
    package_dir = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    shutil.copytree(package_dir, source, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info",
                                                                        "__pycache__"))
    env_dir = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(env_dir)], check=True)
    subprocess.run([str(env_dir / "bin" / "pip"), "install", "-q", "--no-index", "--no-build-isolation",
                    str(source)], check=True, capture_output=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    result = subprocess.run([str(env_dir / "bin" / "python"), "-c",
                             "import quorlix; print(quorlix.__file__); print(quorlix.library_version())"],
                            cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
    installed, version = result.stdout.split()
    assert installed.startswith(str(env_dir)) and version == "103"
