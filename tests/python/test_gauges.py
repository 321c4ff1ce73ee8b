"""Histories at points and the cycles a history or envelope passes over: the
element holding a point is found by the library, and checked here against
the cell the point was placed in; the nearest node against a search over
every node; the values against the one-cycle queries."""
import os
import shutil

import numpy as np
import pytest

import qvres
from conftest import run, same_bits, tool

# What an integer history or envelope holds where no cycle gave a value.
NO_INTEGER = -2 ** 31


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


@pytest.fixture(scope="module")
def late(tmp_path_factory):
    """Two runs of the fixture with stresses and erosion (cycles 10, 20, 30):
    "erosion", where EROSION is a node integer in every cycle and an
    element integer only from cycle 20 on; and "stress", the same with
    cycle 10 written without them (the plain fixture's file), so that the
    STRESS_ components and both EROSION entries start at cycle 20."""
    root = tmp_path_factory.mktemp("late")
    run(tool("QVRES_FIXTURE"), root / "erosion", "--stress-and-erosion")
    run(tool("QVRES_FIXTURE"), root / "plain")
    shutil.copytree(root / "erosion", root / "stress")
    (base,) = (root / "plain").glob("*.qvres_base")
    # Cycle 10's file, found by opening each cycle file alone with the base.
    for path in sorted((root / "plain").glob("*_*.qvres")):
        probe = root / f"probe_{path.stem}"
        probe.mkdir()
        shutil.copy(base, probe)
        shutil.copy(path, probe)
        with qvres.open(probe) as p:
            if p.cycles.numbers.tolist() == [10]:
                shutil.copy(path, root / "stress" / path.name)
    with qvres.open(root / "stress") as a:
        assert not any(v.name in ("STRESS_XX", "EROSION") for v in a.variables(0))
        assert {"STRESS_XX", "EROSION"} <= {v.name for v in a.variables(1)}
    return root


def stored_or_none(read, variable, k):
    """What `read` gives for `variable` in cycle k, or None where the cycle
    does not store it."""
    try:
        return read(variable, k)
    except (qvres.NotStoredError, qvres.ArgumentError):
        return None


def expected_history(a, read, variable, positions, fill):
    """Cycles x positions from the one-cycle queries, `fill` where a cycle
    does not store the variable, and the positions of those cycles."""
    rows, gaps = [], []
    for k in range(len(a.cycles)):
        values = stored_or_none(read, variable, k)
        if values is None:
            gaps.append(k)
            rows.append(np.full(len(positions), fill, np.int32 if fill == NO_INTEGER else np.float32))
        else:
            rows.append(values[positions])
    return np.stack(rows), gaps


def test_a_variable_stored_from_a_later_cycle_on_gives_gaps_before_it(late):
    assert qvres.NO_INTEGER == NO_INTEGER
    not_stored = qvres.status_text(qvres.NotStoredError.status)
    # EROSION as an element integer from cycle 20 on, while cycle 10 lists
    # it only as a node variable.
    with qvres.open(late / "erosion") as a:
        positions = [0, 1, 5, 7]
        want, gaps = expected_history(a, a.element_values, "EROSION", positions, NO_INTEGER)
        assert gaps == [0] and (want[1:] != NO_INTEGER).all()
        for threads in (None, 1, 2):
            h = a.history("EROSION", element=positions, threads=threads)
            assert same_bits(h.values, want) and same_bits(h.times, a.cycles.times)
            assert [(g.cycle, g.time, g.status) for g in h.gaps] == [(0, a.cycles.times[0], not_stored)]
        # One position read cycle by cycle: the same values and gaps.
        for k, p in enumerate(positions):
            h = a.history("EROSION", element=p)
            assert same_bits(h.values, want[:, k]) and [g.cycle for g in h.gaps] == [0]
        # A range whose cycles all store it has no gaps; one where none
        # lists it raises as that cycle's directory says.
        h = a.history("EROSION", element=positions, cycles=slice(1, None))
        assert same_bits(h.values, want[1:]) and h.gaps == ()
        with pytest.raises(qvres.ArgumentError, match="node variable"):
            a.history("EROSION", element=positions, cycles=slice(0, 1))
        # The node entry, listed in every cycle, is the one of a node history.
        h = a.history("EROSION", node=[2, 3])
        assert same_bits(h.values, np.stack([a.node_values("EROSION", k)[[2, 3]] for k in range(3)]))
    # STRESS_XX and both EROSION entries from cycle 20 on.
    with qvres.open(late / "stress") as a:
        n = len(a.cycles)
        want, gaps = expected_history(a, a.element_values, "STRESS_XX", [0, 4, 9], np.nan)
        assert gaps == [0] and not np.isnan(want[1:]).any()
        for threads in (None, 2):
            h = a.history("STRESS_XX", element=[0, 4, 9], threads=threads)
            assert same_bits(h.values, want) and [g.cycle for g in h.gaps] == [0]
        want, gaps = expected_history(a, a.node_values, "EROSION", [3, 40], NO_INTEGER)
        assert gaps == [0]
        assert same_bits(a.history("EROSION", node=[3, 40]).values, want)
        assert same_bits(a.history("EROSION", node=40).values, want[:, 1])
        assert [g.cycle for g in a.history("EROSION", node=40).gaps] == [0]
        with pytest.raises(qvres.NotStoredError, match="cycle 10 stores no element variable 'NO_SUCH'"):
            a.history("NO_SUCH", element=[0])
        with pytest.raises(qvres.NotStoredError):
            a.history("NO_SUCH", element=0)
        # Points: the element holding each, its value among every slot.
        points = cell_centres(a, 2)[0][[0, 3, 7]]
        g = a.locate(points)
        assert (g.slot >= 0).all()
        want, gaps = expected_history(a, a.slot_values, "STRESS_XX", g.slot, np.nan)
        for at in (points, a.locate(points)):
            h = a.history("STRESS_XX", at=at)
            assert same_bits(h.values, want) and [g.cycle for g in h.gaps] == [0]
        # Envelopes pass over the cycle without it.
        for variable, read in (("STRESS_XX", a.element_values), ("EROSION", a.node_values)):
            stored = np.stack([read(variable, k) for k in range(1, n)])
            for extreme, pick in (("max", np.argmax), ("min", np.argmin)):
                e = a.envelope(variable, extreme, threads=2)
                first = pick(stored, axis=0)
                assert same_bits(e.values, stored[first, np.arange(stored.shape[1])]), (variable, extreme)
                assert same_bits(e.cycles, first + 1) and same_bits(e.times, a.cycles.times[first + 1])
                assert [g.cycle for g in e.gaps] == [0]


def test_gauges_changed_by_hand_are_checked_as_positions(late):
    with qvres.open(late / "erosion") as a:
        xyz = a.coordinates()
        nodes = a.locate(xyz[[1, 2]], elements=False)
        assert nodes.node.tolist() == [1, 2]
        per_cycle = np.stack([a.node_values("X-VELOCITY", k)[[1, 2]] for k in range(len(a.cycles))])
        # Not cut to nodes 1 and 2, nor taken whatever their shape.
        for node in (np.array([1.7, 2.2]), np.array([[1, 2]]), np.array([1, np.nan]), np.array([], np.int64),
                     np.array([1, 2 ** 64 + 1], object)):
            with pytest.raises(qvres.ArgumentError):
                a.history("X-VELOCITY", at=nodes._replace(node=node))
        # Whole numbers, whatever their type, are the nodes they name.
        for node in (np.array([1.0, 2.0]), np.array([1, 2], np.uint64), [1, 2]):
            assert same_bits(a.history("X-VELOCITY", at=nodes._replace(node=node)).values, per_cycle)
        cells = a.locate(cell_centres(a, 2)[0][:2], nodes=False)
        assert (cells.slot >= 0).all()
        with pytest.raises(qvres.ArgumentError):
            a.history("PRESSURE", at=cells._replace(slot=cells.slot + 0.5))
        with pytest.raises(qvres.ArgumentError):
            a.history("PRESSURE", at=cells._replace(slot=cells.slot.reshape(2, 1)))


def test_a_first_cycle_whose_directory_cannot_be_read_is_skipped_when_asked(sample, tmp_path):
    run_ = shutil.copytree(sample, tmp_path / "run")
    with qvres.open(run_) as a:
        before = a.history("PRESSURE", element=[0, 5])
        envelope = np.stack([a.element_values("PRESSURE", k) for k in range(1, len(a.cycles))]).max(axis=0)
    path = sorted(run_.glob("*_*.qvres"), key=lambda f: int(f.stem.rsplit("_", 1)[1]))[0]
    os.truncate(path, 200)  # its header, not its result directory
    with qvres.open(run_) as a:
        n = len(a.cycles)
        assert n == len(before.times)
        with pytest.raises(qvres.DamagedError, match=path.name):
            a.variables(0)
        for read in (lambda **o: a.history("PRESSURE", element=[0, 5], **o),
                     lambda **o: a.history("PRESSURE", at=cell_centres(a, 1)[0][:2], **o),
                     lambda **o: a.envelope("PRESSURE", **o)):
            with pytest.raises(qvres.DamagedError, match=path.name):
                read()
            assert [g.cycle for g in read(skip_failed_cycles=True).gaps] == [0]
        h = a.history("PRESSURE", element=[0, 5], skip_failed_cycles=True)
        assert np.isnan(h.values[0]).all() and same_bits(h.values[1:], before.values[1:])
        e = a.envelope("PRESSURE", skip_failed_cycles=True)
        assert same_bits(e.values, envelope) and (e.cycles >= 1).all()
