"""Parameter studies: one function over many analyses, serially or spread
over the worker processes of a dask.distributed cluster.

    def peak(a):
        return {"peak_pa": max(a.element_values("PRESSURE", c)[:10].max()
                               for c in range(len(a.cycles)))}

    rows = qvres.study.table(peak, paths)                  # serially
    rows = qvres.study.table(peak, paths, client=client)   # on a cluster

Each analysis is opened, handed to the function and closed in the process
that runs it, so only paths travel to the workers and only results come
back: every worker must see the files under the same paths and have qvres
and libqvres installed. The results equal the serial run's."""
import os

import numpy as np

from ._analysis import _absolute, open as _open


def _run(fn, path, options):
    with _open(path, **options) as a:
        return fn(a)


def map(fn, paths, client=None, **options):  # noqa: A001 - mirrors the built-in
    """[fn(analysis) for each path], in the order of `paths`. With a
    dask.distributed `client` every analysis is a task of its own, run on
    any worker; the first failure is raised, as in the serial run. `options`
    go to qvres.open (prefix_rule, clear_stale_lock, max_inflated_bytes).
    Relative paths are taken from this process's working directory, not a
    worker's."""
    paths = [_absolute(os.fspath(p)) for p in paths]
    if client is None:
        return [_run(fn, p, options) for p in paths]
    futures = client.map(_run, [fn] * len(paths), paths, [options] * len(paths), pure=False)
    return client.gather(futures)


def table(fn, paths, client=None, **options):
    """Runs map(fn, paths, client) and gathers the results into rows: a numpy
    structured array with a "path" column and one column per key of the
    mappings that fn returns (or a "value" column when it returns scalars),
    one row per path in the order of `paths`."""
    paths = [os.fspath(p) for p in paths]
    results = map(fn, paths, client, **options)
    rows = [r if isinstance(r, dict) else {"value": r} for r in results]
    keys = list(dict.fromkeys(k for r in rows for k in r))
    width = max((len(p) for p in paths), default=1)
    fields = [("path", f"U{width}")]
    for k in keys:
        column = np.asarray([r.get(k, np.nan) for r in rows])
        fields.append((k, column.dtype, column.shape[1:]))
    out = np.empty(len(rows), dtype=fields)
    out["path"] = paths
    for k in keys:
        out[k] = [r.get(k, np.nan) for r in rows]
    return out
