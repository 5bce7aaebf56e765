"""The schedules of many filings as a dask DataFrame, decoded where the partitions are computed.

    import quorlix.dask
    frame = quorlix.dask.schedules_dataframe(["edgar-1993-2001/"], partitions=64)
    frame.groupby("cik")["TOTAL-ASSETS"].max().compute()

Each partition is one call of the library (quorlix.schedules_frame) on a worker,
over its group of inputs; nothing but the frame's rows crosses the cluster.
Needs dask (Debian's python3-dask) and pandas; the workers need the package and
the library, and must see the files by the same paths.
"""
from __future__ import annotations

import os
from typing import Iterable

from . import schedule


def _partition(paths: list[str], tags: list[str]):
    return schedule.schedules_frame(paths, tags=tags, jobs=1)


def schedules_dataframe(paths: Iterable[schedule.FilingEntry], *, partitions: int | None = None,
                        tags: Iterable[str] | None = None):
    """The wide form of schedules_frame as a dask DataFrame, one partition per group of inputs.

    paths       as schedules_frame's filings; folders are walked here, on the client
    partitions  how many groups the inputs are cut into, in order, each of about as
                many inputs; None is one per 256 inputs, at least one
    tags        the tag columns, in order (as schedules_frame's tags); None is every
                tag of the tag dictionary, in its order. Fixing them gives every
                partition the same columns and types, which the frame's meta states
                without reading a filing; values of other tags are left out.

    compute() gives the rows of one schedules_frame call over all the inputs, in
    the same order (each partition's index starts at 0). An input that cannot be
    read raises, as schedules_frame does, when its partition is computed.
    """
    import dask.dataframe
    files = schedule._filing_paths(paths)
    columns = list(schedule._tag_kinds()) if tags is None else list(tags)
    count = len(files)
    groups_wanted = partitions if partitions is not None else max(1, -(-count // 256))
    if groups_wanted < 1:
        raise ValueError("partitions must be at least 1")
    groups_wanted = min(groups_wanted, max(count, 1))
    groups = [files[count * k // groups_wanted:count * (k + 1) // groups_wanted] for k in range(groups_wanted)]
    meta = schedule.schedules_frame([], tags=columns, jobs=1)
    return dask.dataframe.from_map(_partition, groups, tags=columns, meta=meta, label="quorlix-schedules",
                                   token=os.urandom(8).hex(), enforce_metadata=False)
