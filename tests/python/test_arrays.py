"""Every array of the package against the 59 exports of libresults_api, bit
for bit, on the sample and on the fixture with a plane part, a part without
elements, an unreported material and a variable stored for two parts."""
import ctypes

import numpy as np
import pytest

import qvres
from conftest import run, same_bits, tool

I32, F32 = np.int32, np.float32


def structured_rows(parts, real):
    """Rows the structured parts give an element array: their elements, and
    for real variables every slot of a part with I = 1."""
    rows = 0
    for p in parts:
        if p.structured:
            i, j, k = p.extent
            rows += (i - 1) * (j - 1) * (k - 1) if min(i, j, k) >= 2 else j * k if i == 1 and real else 0
    return rows


@pytest.fixture(params=["sample", "mixed"])
def analysis(request):
    with qvres.open(request.getfixturevalue(request.param)) as a:
        yield a


def test_model_equals_the_exports(analysis, exports):
    a = analysis
    exports.open(a.path)
    S, E = exports.count("get_NumStructuredParts"), exports.count("get_NumUnstructuredElements")
    assert (S, exports.count("get_NumUnstructuredParts"), E) == \
        (a.model.structured_parts, a.model.unstructured_parts, a.model.unstructured_elements)
    extents = [np.zeros(S, I32) for _ in range(3)]
    exports("get_NumStructuredNodes", *(e.ctypes.data_as(ctypes.c_void_p) for e in extents))
    assert [p.extent for p in a.parts if p.structured] == list(zip(*(e.tolist() for e in extents)))
    for p in a.parts:
        elements, nodes = ctypes.c_int32(), ctypes.c_int32()
        name = exports.text("get_PartInfo", 35, p.number, ctypes.byref(elements), ctypes.byref(nodes))
        assert (p.name, p.elements, p.nodes) == (name, elements.value, nodes.value)
        if not p.structured:
            assert same_bits(a.part_elements(p.number),
                             exports.array("get_ElementPartConnectivity", p.elements, I32, p.number))
    assert same_bits(a.coordinates().ravel(), exports.array("get_NodeCoordinates", 3 * a.model.nodes, F32))
    assert a.coordinates().shape == (a.model.nodes, 3)
    assert same_bits(a.connectivity().ravel(),
                     exports.array("get_UnstructuredElementConnectivity", 8 * E, I32))
    assert same_bits(a.element_types(), exports.array("get_ElementType", E, I32))
    codes = [ctypes.c_int32() for _ in range(3)]
    exports("getUnitSystem", *(ctypes.byref(c) for c in codes))
    assert tuple(a.unit_system) == tuple(c.value for c in codes)
    for m in a.materials:
        assert m.name == exports.text("get_MaterialName", 35, m.number)
        ratio = ctypes.c_float()
        exports("getMaterialPoissonRatio", m.number, ctypes.byref(ratio))
        assert same_bits(np.float32(m.poisson_ratio), np.float32(ratio.value))
    steps = exports.count("get_NumSteps")
    numbers, times = np.zeros(steps, I32), np.zeros(steps, F32)
    exports("get_SetData", numbers.ctypes.data_as(ctypes.c_void_p), times.ctypes.data_as(ctypes.c_void_p))
    assert same_bits(a.cycles.numbers, numbers) and same_bits(a.cycles.times.astype(F32), times)
    assert [a.cycles.index(c) for c in numbers] == list(range(steps))


def test_every_array_and_count_of_every_cycle_equals_the_exports(analysis, exports):
    a = analysis
    exports.open(a.path)
    n, rows_real = a.model.nodes, structured_rows(a.parts, True)
    rows_int, e = structured_rows(a.parts, False), a.model.unstructured_elements
    cols = len(a.reported_materials) + 1
    for k in range(len(a.cycles)):
        exports("set_newStep", k)
        assert same_bits(a.displacements(k).ravel(), exports.array("get_NodeDisplacements", 3 * n, F32))
        assert a.count("displacements", k) == 3 * n
        for v in a.variables(k):
            part = abs(v.part)
            if v.location == "node":
                ours = a.node_values(v, k)
                theirs = exports.array("get_IntNodeValues" if v.integer else "get_FloatNodeValues",
                                       2 + n, I32 if v.integer else F32, v.index, part)
                # The array the library wrote, no header pair in front to skip.
                assert ours.flags.owndata and ours.shape == (n,)
            elif v.integer:
                ours = a.element_values(v, k)
                theirs = exports.array("get_IntElemValues", 2 + rows_int + e, I32, v.index, part)
            else:
                ours = a.element_values(v, k)
                if v.multi_material:
                    assert ours.shape == (rows_real + e, cols)
                    assert np.isnan(ours[rows_real:, :-1]).all()
                    ours = np.concatenate([ours[:rows_real].ravel(), ours[rows_real:, -1]])
                theirs = exports.array("get_FloatElemValues", 2 + rows_real * cols + e, F32, v.index, part)
            assert same_bits(ours, theirs[2:]), (k, v)
            # What a front end sizes its buffers from: the values the export wrote.
            assert a.count(v, k) == a.count(v.index, k, part=v.part, location=v.location) == len(theirs) - 2
        for m in a.materials:
            fractions = exports.array("get_MaterialFractions", rows_int, F32, m.number)
            assert same_bits(a.material_fractions(m.number, k), fractions)
            assert same_bits(a.material_fractions(m.name.lower(), k), fractions)
            assert a.count("material_fractions", k, part=m.number) == rows_int
    with pytest.raises(qvres.NotStoredError):
        a.count("NO_SUCH_VARIABLE", 0)


def test_histories_and_envelopes_are_the_values_of_every_cycle(analysis):
    a = analysis
    n = len(a.cycles)
    for v in a.variables(0):
        if v.location is None:
            continue
        values = a.node_values if v.location == "node" else a.element_values
        per_cycle = np.stack([values(v, k) for k in range(n)])
        last = per_cycle.shape[1] - 1
        for position in (0, last):  # one position: a 1-D history (a row per cycle for materials)
            h = a.history(v.name, **{v.location: position}, part=v.part)
            assert same_bits(h.times, a.cycles.times)
            assert same_bits(h.values, per_cycle[:, position]), (v, position)
        if v.multi_material and v.location == "element":
            # Envelopes follow the array as stored: each structured row of
            # element_values whole, then the unstructured elements' own values.
            s = per_cycle.shape[1] - a.model.unstructured_elements
            stored = np.concatenate([per_cycle[:, :s].reshape(n, -1), per_cycle[:, s:, -1]], axis=1)
            for extreme, pick in (("max", np.argmax), ("min", np.argmin)):
                e = a.envelope(v.name, extreme, part=v.part)
                first = pick(stored, axis=0)
                assert same_bits(e.values, stored[first, np.arange(stored.shape[1])]), (v, extreme)
                assert same_bits(e.cycles, first)
            continue
        positions = [last, 0, last // 2, 0]
        for threads in (1, 2):
            h = a.history(v.name, **{v.location: positions}, part=v.part, threads=threads)
            assert same_bits(h.times, a.cycles.times)
            assert same_bits(h.values, per_cycle[:, positions]), (v, threads)
            h = a.history(v.name, **{v.location: positions[:1]}, part=v.part, cycles=slice(1, n - 1))
            assert same_bits(h.times, a.cycles.times[1:n - 1])
            assert same_bits(h.values, per_cycle[1:n - 1, positions[:1]])
            for extreme, pick in (("max", np.argmax), ("min", np.argmin)):
                e = a.envelope(v.name, extreme, threads=threads, part=v.part)
                first = pick(per_cycle, axis=0)  # the first of equal extremes
                assert same_bits(e.cycles, first), (v, extreme)
                assert same_bits(e.values, per_cycle[first, np.arange(per_cycle.shape[1])])
                assert same_bits(e.times, a.cycles.times[first])
    for bad in (lambda: a.history(a.variables(0)[0].name, node=a.model.nodes + 5), lambda: a.history("PRESSURE"),
                lambda: a.history("PRESSURE", element=[0, 1], cycles=slice(0, n, 2)),
                lambda: a.history("PRESSURE", element=[0, 1], cycles=slice(None, None, 0)),
                lambda: a.envelope("PRESSURE", cycles=slice(0, n, 0)),
                lambda: a.envelope("PRESSURE", cycles=slice(0.5, n)),
                lambda: a.envelope("PRESSURE", "mean"), lambda: a.envelope("PRESSURE", np.array(["max"])),
                lambda: a.envelope("PRESSURE", ["min"])):
        with pytest.raises(qvres.ArgumentError):
            bad()


def test_variables_by_name_index_and_part(mixed, exports):
    with qvres.open(mixed) as a:
        exports.open(a.path)
        exports("set_newStep", 1)
        assert same_bits(a.node_values("task number", 1), a.node_values(35, 1))
        assert same_bits(a.node_values("X-VELOCITY", 1), a.node_values(4, -2))
        part2 = a.element_values("PRESSURE", 1, part=2)
        assert not same_bits(part2, a.element_values("PRESSURE", 1))
        theirs = exports.array("get_FloatElemValues", len(part2) + 2, F32, 64, 2)
        assert same_bits(part2, theirs[2:])
        with pytest.raises(qvres.ArgumentError, match="element variable"):
            a.node_values("PRESSURE", 0)
        with pytest.raises(qvres.NotStoredError, match="mixed: cycle 10 stores no element variable 'DENSITY'"):
            a.element_values("DENSITY", 0)
        with pytest.raises(qvres.NotStoredError, match=r"mixed_run_000\d\.qvres"):
            a.element_values(82, 0)  # an index the directory does not list: the library's message
        with pytest.raises(qvres.ArgumentError):
            a.node_values("X-VELOCITY", len(a.cycles))
        assert [a.unit(x) for x in ("PRESSURE", "X-VELOCITY", "TEMP", "MATERIAL", "coordinates", 64)] == \
            ["Pa", "m/s", "K", "", "m", "Pa"]
        assert [m.name for m in a.reported_materials] == ["AIR", "FOAM"]
        assert list(a.cycles.numbers) == [10, 20, 30]


def test_to_meshio_equals_the_vtk_export(sample, tmp_path):
    meshio = pytest.importorskip("meshio")
    run(tool("QVRES_TO_VTK"), "--single-vtu", "--show-eroded", sample, tmp_path)
    with qvres.open(sample) as a:
        for k in (0, len(a.cycles) - 1):
            ours = a.to_meshio(k)
            theirs = meshio.read(tmp_path / f"sample_run_{k:04d}.vtu")
            assert same_bits(ours.points, theirs.points.astype(F32))
            assert [c.type for c in ours.cells for _ in c.data] == [c.type for c in theirs.cells for _ in c.data]
            assert np.array_equal(np.concatenate([c.data.ravel() for c in ours.cells]),
                                  np.concatenate([c.data.ravel() for c in theirs.cells]))
            assert ours.point_data.keys() == theirs.point_data.keys()
            for name, values in ours.point_data.items():
                assert same_bits(values, theirs.point_data[name].astype(values.dtype)), name
            assert ours.cell_data.keys() == theirs.cell_data.keys()
            for name, blocks in ours.cell_data.items():
                assert same_bits(np.concatenate(blocks),
                                 np.concatenate(theirs.cell_data[name]).astype(blocks[0].dtype)), name


def test_to_meshio_leaves_out_what_a_cycle_does_not_store(tmp_path):
    meshio = pytest.importorskip("meshio")
    bare = tmp_path / "bare"
    run(tool("QVRES_FIXTURE"), bare, "--without-displacements")
    run(tool("QVRES_TO_VTK"), "--single-vtu", bare, tmp_path)
    with qvres.open(bare) as a:
        ours = a.to_meshio(0)
    assert "displacement" not in ours.point_data
    assert ours.point_data.keys() == meshio.read(tmp_path / "mixed_run_0000.vtu").point_data.keys()


def test_displacements_and_node_histories_of_another_node_count_are_damaged(tmp_path):
    run(tool("QVRES_FIXTURE"), tmp_path / "fewer", "--fewer-nodes")
    with qvres.open(tmp_path / "fewer") as a:
        with pytest.raises(qvres.DamagedError, match=f"cycle 10 holds displacements of {a.model.nodes - 2} nodes"):
            a.displacements(0)
        # A cycle's own node values follow the sizes it states; a history
        # would give other nodes' values under the model's positions, one
        # position or several alike.
        assert len(a.node_values("X-VELOCITY", 0)) == a.model.nodes - 2
        held = f"the cycle holds {a.model.nodes - 2} node values where the model has {a.model.nodes}"
        for node in (3, [3], [3, 50]):
            with pytest.raises(qvres.DamagedError, match=held):
                a.history("X-VELOCITY", node=node)


def test_to_meshio_drops_the_slots_of_a_plane_and_joins_the_stress_components(tmp_path, exports):
    """The mixed fixture with STRESS XX .. ZX: one 6-component array, XX, YY,
    ZZ, XY, YZ, XZ (the files' ZX last), each column the variable the 59
    exports read, as every other cell array, without the plane's 12 slots."""
    meshio = pytest.importorskip("meshio")
    run(tool("QVRES_FIXTURE"), tmp_path / "stress", "--stress-and-erosion")
    with qvres.open(tmp_path / "stress") as a:
        exports.open(a.path)
        exports("set_newStep", 2)
        mesh = a.to_meshio(2)
        # 8 hexahedra of BLOCK, then the hexahedron, quadrilateral, triangle and beam.
        assert [(c.type, len(c.data)) for c in mesh.cells] == \
            [("hexahedron", 8), ("hexahedron", 1), ("quad", 1), ("triangle", 1), ("line", 1)]
        assert np.concatenate(mesh.cell_data["part"]).tolist() == [2] * 8 + [4, 5, 5, 6]
        stress = np.concatenate(mesh.cell_data["STRESS"])
        assert stress.shape == (8 + 4, 6) and not any(k.startswith("STRESS_") for k in mesh.cell_data)
        for ours, variable in [(np.concatenate(mesh.cell_data["PRESSURE"]), 64)] + \
                [(stress[:, column], v) for column, v in enumerate((67, 68, 69, 70, 71, 72))]:
            theirs = exports.array("get_FloatElemValues", 2 + 12 + 8 + 4, F32, variable, 1)
            assert same_bits(ours, theirs[2 + 12:]), variable
        mesh.write(tmp_path / "mixed.vtu")
        back = meshio.read(tmp_path / "mixed.vtu")
        assert {"TEMP", "TEMP[AIR]", "TEMP[FOAM]", "EPS[FOAM]", "PRESSURE_part2"} <= back.cell_data.keys()
        assert "TEMP[STEEL]" not in back.cell_data
