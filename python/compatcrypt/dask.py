"""Dask helpers: file digests and batch coding over Dask collections.

Every helper runs the module's calls on the workers, one call per partition
for the batch coders, and keeps the input order. Dask itself is imported
only here, when a helper runs: ``import compatcrypt`` does not need it.

The workers import ``compatcrypt`` too: install the package on them, or
start them with ``PYTHONPATH`` leading to it. Keys travel to the workers
inside the task graph, pickled with their bytes: use a cluster whose
scheduler and workers may see them (TLS between them where the network is
not trusted).
"""

from __future__ import annotations

import math
import os
from typing import TYPE_CHECKING, Any, Iterable, Sequence, Union

import compatcrypt

if TYPE_CHECKING:
    import dask.bag
    import dask.dataframe
    import distributed
    import pandas

__all__ = [
    "digest_files",
    "decode_series",
    "encode_series",
    "reencode_series",
    "decode_bag",
    "encode_bag",
    "reencode_bag",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# The batch calls by name: pickled into tasks as plain strings. A task's
# steps are (name, key) pairs, run in order on each partition.
_CODERS = {"decode": compatcrypt.decode_batch, "encode": compatcrypt.encode_batch}
_Steps = tuple[tuple[str, compatcrypt.Key], ...]


def digest_files(
    paths: Sequence[PathLike],
    *,
    offset: int = 0,
    client: distributed.Client | None = None,
    files_per_task: int = 64,
) -> list[bytes]:
    """The ``file_digest`` of each path, computed on Dask, in the order of ``paths``.

    The paths are cut into tasks of ``files_per_task`` files (a dask.bag), so
    that many small files do not each cost a task. The files must be readable
    by the workers under the same paths. With ``client`` the work runs on
    that client's cluster; without, on the scheduler Dask is set to use (a
    client made the default one, say), and otherwise on threads of this
    process: file_digest releases the GIL, so threads read and digest files
    in parallel without starting processes. A file that cannot be read
    raises ``compatcrypt.Error`` here, as ``file_digest`` does.
    """
    import dask
    import dask.bag

    if isinstance(files_per_task, bool) or not isinstance(files_per_task, int):
        raise TypeError("files_per_task must be an int")
    if files_per_task < 1:
        raise ValueError("files_per_task must be at least 1")
    names = [os.fspath(p) for p in paths]
    if not names:
        return []
    bag = dask.bag.from_sequence(names, npartitions=math.ceil(len(names) / files_per_task))
    digests = bag.map_partitions(_digest_partition, offset)
    if client is not None:
        scheduler: Any = client
    elif dask.config.get("scheduler", None) is None:
        scheduler = "threads"
    else:
        scheduler = None
    return list(digests.compute(scheduler=scheduler))


def _digest_partition(paths: Iterable[PathLike], offset: int) -> list[bytes]:
    return [compatcrypt.file_digest(p, offset) for p in paths]


def decode_series(series: dask.dataframe.Series, key: compatcrypt.Key) -> dask.dataframe.Series:
    """A column of encoded records (bytes objects) decoded under ``key``.

    One ``decode_batch`` call per partition; the index, name and order stay
    as they are, and missing values (None, NaN, pd.NA, NaT) stay missing. Lazy, like any
    Dask collection: ``.compute()`` it, or keep working on it.
    """
    return _code_series(series, (("decode", key),))


def encode_series(series: dask.dataframe.Series, key: compatcrypt.Key) -> dask.dataframe.Series:
    """A column of plain records (bytes objects) encoded under ``key``; see decode_series."""
    return _code_series(series, (("encode", key),))


def reencode_series(
    series: dask.dataframe.Series, old_key: compatcrypt.Key, new_key: compatcrypt.Key
) -> dask.dataframe.Series:
    """A column of encoded records moved from ``old_key`` to ``new_key``.

    Each partition is decoded and encoded again in one task, so the plain
    records never become a task result that the cluster could keep or move.
    """
    return _code_series(series, (("decode", old_key), ("encode", new_key)))


def decode_bag(bag: dask.bag.Bag, key: compatcrypt.Key) -> dask.bag.Bag:
    """A bag of encoded records (bytes-like) decoded under ``key``, one
    ``decode_batch`` call per partition, in the same order."""
    return bag.map_partitions(_code_records, (("decode", key),))


def encode_bag(bag: dask.bag.Bag, key: compatcrypt.Key) -> dask.bag.Bag:
    """A bag of plain records (bytes-like) encoded under ``key``; see decode_bag."""
    return bag.map_partitions(_code_records, (("encode", key),))


def reencode_bag(bag: dask.bag.Bag, old_key: compatcrypt.Key, new_key: compatcrypt.Key) -> dask.bag.Bag:
    """A bag of encoded records moved from ``old_key`` to ``new_key``, in one
    task per partition (see reencode_series)."""
    return bag.map_partitions(_code_records, (("decode", old_key), ("encode", new_key)))


def _code_series(series: dask.dataframe.Series, steps: _Steps) -> Any:
    return series.map_partitions(_code_series_partition, steps, meta=series._meta)


def _code_series_partition(part: pandas.Series, steps: _Steps) -> pandas.Series:
    import pandas

    return pandas.Series(_code_records(part.tolist(), steps), index=part.index, name=part.name, dtype=object)


def _missing(value: object) -> bool:
    """Whether a record is missing as pandas counts it (None, NaN, pd.NA,
    NaT, ...); records are bytes-like and never are."""
    if value is None:
        return True
    if isinstance(value, (bytes, bytearray, memoryview)):
        return False
    try:
        import numpy
        import pandas
    except ImportError:
        return isinstance(value, float) and math.isnan(value)
    missing = pandas.isna(value)
    return isinstance(missing, (bool, numpy.bool_)) and bool(missing)


def _code_records(records: Iterable[Any], steps: _Steps) -> list[Any]:
    """Runs the batch calls of ``steps`` over the records that are present,
    leaving missing ones (None, NaN, pd.NA, NaT) where they are."""
    values = list(records)
    present = [i for i, value in enumerate(values) if not _missing(value)]
    coded = [values[i] for i in present]
    for name, key in steps:
        coded = _CODERS[name](coded, key)
    for i, value in zip(present, coded):
        values[i] = value
    return values
