"""qvres.study over four analyses: serially, and spread over a LocalCluster
of two worker processes, with identical results."""
import os

import numpy as np
import pytest

import qvres
from conftest import run, same_bits, tool

EXTENTS = [(21, 7, 6), (11, 5, 5), (15, 7, 4), (9, 9, 9)]


@pytest.fixture(scope="module")
def runs(tmp_path_factory):
    root = tmp_path_factory.mktemp("study")
    paths = []
    for n, (i, j, k) in enumerate(EXTENTS):
        run(tool("QVRES_SAMPLE"), "--extents", i, j, k, "--cycles", 4 + n, "--run", f"case{n}", root / f"case{n}")
        paths.append(root / f"case{n}" / f"case{n}_0.qvres")
    return paths


def summary(a):
    """What a study asks of every run (a closure: sent to the workers by value)."""
    peaks = np.array([a.element_values("PRESSURE", k)[:a.parts[0].elements].max() for k in range(len(a.cycles))])
    return {"pid": os.getpid(), "cycles": len(a.cycles), "peak_pa": peaks.max(),
            "history": a.history("TEMP", element=3).values, "coordinates": a.coordinates()}


def test_serial_and_distributed_studies_agree(runs):
    serial = qvres.study.map(summary, runs)
    assert [r["cycles"] for r in serial] == [4, 5, 6, 7]  # in the order given
    distributed = pytest.importorskip("distributed")
    try:
        cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                           dashboard_address=None, silence_logs=40)
    except Exception as e:  # noqa: BLE001 - any failure to start is the sandbox's
        pytest.skip(f"dask.distributed cannot start worker processes here: {e!r}")
    with cluster, distributed.Client(cluster) as client:
        spread = qvres.study.map(summary, runs, client=client)
        rows = qvres.study.table(lambda a: {"cycles": len(a.cycles), "last": a.cycles.times[-1]}, runs,
                                 client=client)
        workers = set(client.run(os.getpid).values())
    # Read in the worker processes, not here.
    assert len(workers) == 2 and {r["pid"] for r in spread} <= workers
    for ours, theirs in zip(serial, spread):
        assert ours.keys() == theirs.keys()
        for key in ours.keys() - {"pid"}:
            assert same_bits(np.asarray(ours[key]), np.asarray(theirs[key])), key
    assert rows["path"].tolist() == [str(p) for p in runs]
    assert rows["cycles"].tolist() == [4, 5, 6, 7]
    for path, last in zip(runs, rows["last"]):
        with qvres.open(path) as a:
            assert last == a.cycles.times[-1]


def test_a_failing_run_fails_the_study(runs, tmp_path):
    with pytest.raises(qvres.NotFoundError, match="nothing_1.qvres"):
        qvres.study.map(lambda a: a.model.nodes, [runs[0], tmp_path / "nothing_1.qvres"])
    rows = qvres.study.table(lambda a: a.model.nodes, runs[::-1])
    assert rows.dtype.names == ("path", "value")
    assert rows["value"].tolist() == [qvres.open(p).model.nodes for p in runs[::-1]]


class ElsewhereClient:
    """A client whose one worker runs each task at once, in another working
    directory (as a worker started elsewhere)."""

    def __init__(self, cwd):
        self.cwd = cwd

    def map(self, fn, *columns, pure=True):
        here = os.getcwd()
        os.chdir(self.cwd)
        try:
            return [fn(*args) for args in zip(*columns)]
        finally:
            os.chdir(here)

    def gather(self, futures):
        return futures


def test_relative_paths_name_the_runs_of_this_working_directory(runs, tmp_path, monkeypatch):
    # A worker's directory holding other runs of the same names.
    elsewhere = tmp_path / "elsewhere"
    run(tool("QVRES_SAMPLE"), "--extents", 3, 3, 3, "--cycles", 2, "--run", "case0", elsewhere / "case0")
    monkeypatch.chdir(runs[0].parent.parent)
    relative = os.path.join("case0", "case0_0.qvres")
    rows = qvres.study.table(lambda a: len(a.cycles), [relative], client=ElsewhereClient(elsewhere))
    assert rows["value"].tolist() == [4] and rows["path"].tolist() == [relative]
