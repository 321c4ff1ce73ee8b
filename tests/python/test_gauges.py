"""Histories at points and the cycles a history or envelope passes over: the
element holding a point is found by the library, and checked here against
the cell the point was placed in; the nearest node against a search over
every node; the values against the one-cycle queries."""
import os
import shutil

import numpy as np
import pytest

import qvres
from conftest import same_bits


def cell_centres(a, part):
    """Centres of the cells of structured part `part` (K fastest) and each
    one's slot among the slot values, from the coordinates."""
    p = a.parts[part - 1]
    first = sum(q.nodes for q in a.parts[:part - 1])
    i, j, k = p.extent
    xyz = a.coordinates().astype(np.float64)[first:first + i * j * k].reshape(i, j, k, 3)
    centres = (xyz[:-1, :-1, :-1] + xyz[1:, :-1, :-1] + xyz[:-1, 1:, :-1] + xyz[:-1, :-1, 1:] +
               xyz[1:, 1:, :-1] + xyz[1:, :-1, 1:] + xyz[:-1, 1:, 1:] + xyz[1:, 1:, 1:]) / 8
    a_, b_, c_ = np.meshgrid(np.arange(1, i), np.arange(1, j), np.arange(1, k), indexing="ij")
    slots = first + (a_ * j + b_) * k + c_
    return centres.reshape(-1, 3), slots.ravel()


def test_a_history_at_points_is_the_value_of_the_cell_or_nearest_node(sample):
    with qvres.open(sample) as a:
        centres, slots = cell_centres(a, 1)
        pick = np.linspace(0, len(slots) - 1, 25).astype(int)
        points = centres[pick]
        g = a.locate(points)
        assert same_bits(g.slot, slots[pick]) and (g.part == 1).all() and g.structured.all()
        # Unstructured solids of every kind: qvres/gauges_test.cpp.
        assert (a.locate(points, nodes=False).node == -1).all()
        n = len(a.cycles)
        for threads in (1, 2):
            h = a.history("PRESSURE", at=points, threads=threads)
            per_cycle = np.stack([a.slot_values("PRESSURE", k)[slots[pick]] for k in range(n)])
            assert same_bits(h.values, per_cycle) and same_bits(h.times, a.cycles.times)
            assert h.gaps == ()
        # The mapping is kept and reused; one point gives a 1-D history.
        assert same_bits(a.history("DENSITY", at=g).values,
                         np.stack([a.slot_values("DENSITY", k)[slots[pick]] for k in range(n)]))
        one = a.history("PRESSURE", at=tuple(points[3]))
        assert one.values.shape == (n,)
        # Node variables: the nearest node of a search over every node.
        xyz = a.coordinates().astype(np.float64)
        probes = points + np.array([1e-3, -2e-3, 0.5e-3])
        nearest = [int(np.argmin(((xyz - p) ** 2).sum(axis=1))) for p in probes]
        h = a.history("X-VELOCITY", at=probes, cycles=slice(2, n))
        assert same_bits(h.values, np.stack([a.node_values("X-VELOCITY", k)[nearest] for k in range(2, n)]))


def test_points_outside_and_not_finite_name_the_point(sample):
    with qvres.open(sample) as a:
        inside = cell_centres(a, 1)[0][0]
        with pytest.raises(qvres.ArgumentError, match=r"point 1 \(.*\) m lies in no element"):
            a.history("PRESSURE", at=[inside, (1e3, 1e3, 1e3)])
        with pytest.raises(qvres.ArgumentError, match="point 0 .*not finite"):
            a.locate([(np.nan, 0, 0)])
        # Outside every element is no error for a node variable.
        far = a.history("X-VELOCITY", at=[(1e3, 1e3, 1e3)])
        assert far.values.shape == (len(a.cycles), 1)
        with pytest.raises(qvres.ArgumentError):
            a.locate(np.zeros((2, 2)))
        with pytest.raises(qvres.ArgumentError):
            a.history("PRESSURE", element=[0], at=[inside])


def test_failed_cycles_fail_the_call_or_are_skipped_and_listed(sample, tmp_path):
    run = shutil.copytree(sample, tmp_path / "run")
    with qvres.open(run) as a:
        n = len(a.cycles)
        before = a.history("PRESSURE", element=[0, 5])
        path = sorted(run.glob("*_*.qvres"), key=lambda f: int(f.stem.rsplit("_", 1)[1]))[3]
        os.truncate(path, os.path.getsize(path) // 2)
        with pytest.raises(qvres.DamagedError, match=path.name):
            a.history("PRESSURE", element=[0, 5])
        with pytest.raises(qvres.DamagedError, match=path.name):
            a.envelope("PRESSURE")
        for threads in (1, 2):
            h = a.history("PRESSURE", element=[0, 5], threads=threads, skip_failed_cycles=True)
            assert [g.cycle for g in h.gaps] == [3]
            assert h.gaps[0].status == "damaged or truncated file" and path.name in h.gaps[0].message
            assert h.gaps[0].time == a.cycles.times[3]
            assert np.isnan(h.values[3]).all()
            keep = np.arange(n) != 3
            assert same_bits(h.values[keep], before.values[keep])
        e = a.envelope("PRESSURE", skip_failed_cycles=True)
        assert [g.cycle for g in e.gaps] == [3] and (e.cycles != 3).all()
        # A one-element history keeps its 1-D shape when skipping.
        one = a.history("PRESSURE", element=0, skip_failed_cycles=True)
        assert one.values.shape == (n,) and [g.cycle for g in one.gaps] == [3]
