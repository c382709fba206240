"""Dask helpers: file digests and batch coding over Dask collections.

Every helper runs the module's calls on the workers, one call per partition
for the batch coders, and keeps the input order. Dask itself is imported
only here, when a helper runs: ``import compatcrypt`` does not need it.

The workers import ``compatcrypt`` too: install the package on them, or
start them with ``PYTHONPATH`` leading to it, or upload the unpacked wheel
(see the README). Keys travel to the workers inside the task graph, pickled
with their bytes: use a cluster whose scheduler and workers may see them
(TLS between them where the network is not trusted).

Arguments are checked here, before a graph is built: a key that is not a
``compatcrypt.Key``, a collection of the wrong kind or a single name where a
list of names is expected raise TypeError at once. A task that fails on a
worker raises an error naming types and positions, never a record; and
since Dask's workers log a failed task's arguments (the partition, that
is: the records), a process that imports this module logs them as not
shown.
"""

from __future__ import annotations

import logging
import math
import operator
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


class _HideTaskArguments(logging.Filter):
    """Dask's worker logs a failed task's arguments ("Compute Failed ...
    args: (0 b'...'"): for the tasks of this module, the records. In a
    worker process that runs them (it imports this module to unpickle the
    task), every such line keeps its key, function and exception, and loses
    the arguments."""

    HIDDEN = "(not shown: compatcrypt.dask hides task arguments, which may hold records)"

    def filter(self, record: logging.LogRecord) -> bool:
        if isinstance(record.msg, str) and record.msg.startswith("Compute Failed") and isinstance(record.args, tuple):
            if len(record.args) == 5:
                key, function, _, _, exception = record.args
                record.args = (key, function, self.HIDDEN, self.HIDDEN, exception)
        return True


def _hide_task_arguments() -> None:
    worker_log = logging.getLogger("distributed.worker")
    if not any(isinstance(f, _HideTaskArguments) for f in worker_log.filters):
        worker_log.addFilter(_HideTaskArguments())


_hide_task_arguments()


def _check_key(key: object, name: str = "key") -> None:
    if not isinstance(key, compatcrypt.Key):
        raise TypeError(f"{name} must be a compatcrypt.Key, not '{type(key).__name__}'")


def _check_collection(collection: object, kind: str) -> None:
    if kind == "series":
        import dask.dataframe

        if not isinstance(collection, dask.dataframe.Series):
            raise TypeError(f"series must be a dask.dataframe.Series, not '{type(collection).__name__}'")
    else:
        import dask.bag

        if not isinstance(collection, dask.bag.Bag):
            raise TypeError(f"bag must be a dask.bag.Bag, not '{type(collection).__name__}'")


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

    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError(f"paths must be a sequence of file names, not one '{type(paths).__name__}'")
    if isinstance(files_per_task, bool) or not isinstance(files_per_task, int):
        raise TypeError("files_per_task must be an int")
    if files_per_task < 1:
        raise ValueError("files_per_task must be at least 1")
    if isinstance(offset, bool):
        raise TypeError("offset must be an int")
    offset = operator.index(offset)
    if not 0 <= offset < 2**63:
        raise ValueError("offset must be from 0 to 2**63 - 1")
    names = [os.fspath(p) for p in paths]
    if not names:
        return []
    bag = dask.bag.from_sequence(names, npartitions=math.ceil(len(names) / files_per_task))
    if client is None and dask.config.get("scheduler", None) is None:
        # Threads of this process, which receive no signals: Ctrl-C stops
        # this thread's wait, and the token stops their digests.
        token = compatcrypt._compatcrypt._StopToken()
        try:
            return list(bag.map_partitions(_digest_partition, offset, token).compute(scheduler="threads"))
        except BaseException:
            token.stop()
            raise
    digests = bag.map_partitions(_digest_partition, offset)
    return list(digests.compute(scheduler=client))


def _digest_partition(paths: Iterable[PathLike], offset: int, token: Any = None) -> list[bytes]:
    if token is None:
        return [compatcrypt.file_digest(p, offset) for p in paths]
    return [compatcrypt._compatcrypt._file_digest_until(p, offset, token) for p in paths]


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
    return _code_bag(bag, (("decode", key),))


def encode_bag(bag: dask.bag.Bag, key: compatcrypt.Key) -> dask.bag.Bag:
    """A bag of plain records (bytes-like) encoded under ``key``; see decode_bag."""
    return _code_bag(bag, (("encode", key),))


def reencode_bag(bag: dask.bag.Bag, old_key: compatcrypt.Key, new_key: compatcrypt.Key) -> dask.bag.Bag:
    """A bag of encoded records moved from ``old_key`` to ``new_key``, in one
    task per partition (see reencode_series)."""
    return _code_bag(bag, (("decode", old_key), ("encode", new_key)))


def _code_bag(bag: dask.bag.Bag, steps: _Steps) -> Any:
    _check_collection(bag, "bag")
    return bag.map_partitions(_code_records, _checked(steps))


def _checked(steps: _Steps) -> _Steps:
    names = ("key",) if len(steps) == 1 else ("old_key", "new_key")
    for (_, key), name in zip(steps, names):
        _check_key(key, name)
    return steps


def _code_series(series: dask.dataframe.Series, steps: _Steps) -> Any:
    _check_collection(series, "series")
    _checked(steps)
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
