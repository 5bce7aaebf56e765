"""Outputs written under private names and renamed into place.

Each destination folder gets one private folder, .quorlix-<host>-<pid>-<random>,
made with mode 0700 inside it, so that the rename into place never crosses file
systems. It holds a file "lock", locked (flock) until the folder is removed: the
quorlix tool's --resume removes a private folder only when it can take that
lock, so a run in another pid namespace or on another host keeps its folder.

A task opens each private folder it writes into (O_DIRECTORY and O_NOFOLLOW),
checks that it is still the folder that was made, and hands the library its files as /proc/self/fd/<fd>/<name>: whoever else can write into the
destination folder can neither swap a link in at a name the library opens nor
move the private folder away and put another in its place. A finished output is
renamed into place through the same descriptor; a link standing at its final
name is replaced, never followed. A failed one is removed, so no final name ever
holds a partial file.

Where /proc is absent the library is handed the private folder's path instead,
which a user able to rename entries of the destination folder could redirect.
"""
from __future__ import annotations

import fcntl
import os
import random
import re
import shutil
import socket
from typing import Iterable, NamedTuple, Optional, Sequence

STAGING_PREFIX = ".quorlix-"
_LOCK_NAME = "lock"
_TAG_ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"
_ATTEMPTS = 16
# Drawn from the system: processes forked from one parent draw differently.
_RANDOM = random.SystemRandom()

_OPEN_FOLDER = os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC


class Stage(NamedTuple):
    """A private folder as made: its path, its device and inode to know it
    again, and the descriptor of its locked file."""

    path: str
    device: int
    inode: int
    lock_fd: int


def _host_part() -> str:
    """The host's name as the tool writes it in private names."""
    host = re.sub(r"[^A-Za-z0-9.-]", "_", socket.gethostname()[:64])
    return host or "host"


def _make_stage(folder: str, prefix: str) -> Stage:
    """A private folder in folder, made under a new random part while the one
    tried exists, with its lock taken. Raises OSError."""
    for attempt in range(_ATTEMPTS):
        path = os.path.join(folder, prefix + "".join(_RANDOM.choices(_TAG_ALPHABET, k=8)))
        try:
            os.mkdir(path, 0o700)
        except FileExistsError:
            if attempt + 1 == _ATTEMPTS:
                raise
            continue
        try:
            made = os.lstat(path)
            # Locked under another name, then renamed: no --resume finds it unlocked.
            lock_fd = os.open(os.path.join(path, "lock-new"), os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o600)
            try:
                fcntl.flock(lock_fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                os.rename(os.path.join(path, "lock-new"), os.path.join(path, _LOCK_NAME))
            except OSError:
                os.close(lock_fd)
                raise
        except OSError:
            shutil.rmtree(path, ignore_errors=True)
            raise
        return Stage(path, made.st_dev, made.st_ino, lock_fd)
    raise FileExistsError(folder)


def make_stages(finals: Iterable[str]) -> dict[str, Stage]:
    """One private folder in the folder of each of finals (absolute paths) that
    can take one. A folder that
    cannot is left out: its conversions then write final names and meet the
    folder's fault themselves, with the statuses they always had."""
    stages: dict[str, Stage] = {}
    prefix = f"{STAGING_PREFIX}{_host_part()}-{os.getpid()}-"
    for folder in sorted({os.path.dirname(final) for final in finals}):
        try:
            stages[folder] = _make_stage(folder, prefix)
        except OSError:
            continue
    return stages


def remove_stages(stages: dict[str, Stage]) -> None:
    for stage in stages.values():
        shutil.rmtree(stage.path, ignore_errors=True)
        os.close(stage.lock_fd)


class Staged(NamedTuple):
    """One output as a task writes it: the name the library is handed, the
    private folder's descriptor and the name in it, and the final name."""

    handed: str
    folder_fd: int
    name: str
    final: str


class OpenStages:
    """The private folders one task writes into, each opened once."""

    def __init__(self, stages: dict[str, Stage]) -> None:
        self._stages = stages
        self._fds: dict[str, int] = {}
        self._by_proc = os.path.isdir("/proc/self/fd")

    def __enter__(self) -> "OpenStages":
        return self

    def __exit__(self, *_: object) -> None:
        for fd in self._fds.values():
            if fd >= 0:
                os.close(fd)

    def _fd(self, folder: str) -> int:
        fd = self._fds.get(folder)
        if fd is None:
            fd = -1
            stage = self._stages.get(folder)
            if stage is not None:
                try:
                    fd = os.open(stage.path, _OPEN_FOLDER)
                    found = os.fstat(fd)
                    if (found.st_dev, found.st_ino) != (stage.device, stage.inode):
                        os.close(fd)
                        fd = -1
                except OSError:
                    fd = -1
            self._fds[folder] = fd
        return fd

    def stage(self, finals: Sequence[str], key: str) -> Optional[list[Staged]]:
        """Private names for finals (absolute paths), each keeping its final
        name's suffix, which the exports check; None when one of their folders
        has no usable private folder."""
        staged = []
        for k, final in enumerate(finals):
            folder, base = os.path.dirname(final), os.path.basename(final)
            fd = self._fd(folder)
            if fd < 0:
                return None
            dot = base.rfind(".")
            name = f"{key}-{k}{base[dot:] if dot > 0 else ''}"
            folder_path = f"/proc/self/fd/{fd}" if self._by_proc else self._stages[folder].path
            staged.append(Staged(f"{folder_path}/{name}", fd, name, final))
        return staged


def place(staged: Sequence[Staged]) -> Optional[OSError]:
    """Renames finished outputs into place, all or none: when one cannot be
    placed, those already placed are removed again. None, or the error."""
    placed: list[str] = []
    try:
        for output in staged:
            os.rename(output.name, output.final, src_dir_fd=output.folder_fd)
            placed.append(output.final)
    except OSError as error:
        for final in placed:
            _remove(final, None)
        discard(staged)
        return error
    return None


def discard(staged: Sequence[Staged]) -> None:
    """Removes what a failed conversion left under private names."""
    for output in staged:
        _remove(output.name, output.folder_fd)


def _remove(name: str, folder_fd: Optional[int]) -> None:
    try:
        os.unlink(name, dir_fd=folder_fd)
    except OSError:
        pass
