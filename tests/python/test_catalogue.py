"""What the package asks the library instead of knowing it: the catalogue
(multi-material variables, groups, the name rule), the cells of the
unstructured elements, where values stand, the stored header pair and the
run's names; each checked against what the fixture and the sample wrote,
computed here from their sizes."""
import os

import numpy as np
import pytest

import qvres
from conftest import same_bits

# The fixture (write_fixture.cpp): a plane SHEET 1 x 3 x 4, a BLOCK 3 x 3 x 3,
# a STRIP 2 x 1 x 3 without cells; then 12 unstructured nodes and a
# hexahedron, a quadrilateral and a triangular shell, and a beam. AIR and
# FOAM are the reported materials (numbers 1 and 3).
EXTENTS = [(1, 3, 4), (3, 3, 3), (2, 1, 3)]
UNSTRUCTURED_NODES, ELEMENTS = 12, 4


def test_multi_material_variables_are_the_catalogues_eight():
    assert qvres.MULTI_MATERIAL == {54, 81, 83, 85, 86, 87, 88, 89}
    assert {e.variable for e in qvres.catalogue(real=True) if e.multi_material} == qvres.MULTI_MATERIAL
    assert not any(e.multi_material for e in qvres.catalogue(real=False))


def test_a_name_resolves_by_the_librarys_one_rule(mixed):
    # Catalogue name, display name or identifier; ends trimmed; case, '.',
    # '_' and blanks alike.
    for name in ("STN.RATE XX", "STN_RATE_XX", " stn rate xx\t", "IVR_EXXD", "Stn.Rate_Xx\r\n"):
        e = qvres.find_variable(name)
        assert (e.variable, e.name, e.display_name, e.identifier) == (28, "STN.RATE XX", "STN_RATE_XX", "IVR_EXXD")
        assert (e.group, e.component, e.group_name, e.members) == ("tensor", 0, "STN.RATE", (28, 29, 30, 31, 32, 33))
    for name in ("STN-RATE XX", "STNRATE XX", "PRESSURES", "", "   "):
        assert qvres.find_variable(name) is None, name
    # The families are apart: MATERIAL is an integer variable.
    assert qvres.find_variable("material", real=False).variable == 10
    with qvres.open(mixed) as a:
        pressure = a.element_values(64, 0)
        for name in ("pressure", " PRESSURE\t", "IVR_PRES", "ivr.pres"):
            assert same_bits(a.element_values(name, 0), pressure), name
        task = a.node_values(35, 0)
        for name in ("TASK_NUMBER", "task number", "Task.Number", "IVI_TASK_NO"):
            assert same_bits(a.node_values(name, 0), task), name
        # A directory name the catalogue does not know ("EPS" of variable 54,
        # whose catalogue name is EFF.PL.STN) names its entry exactly so.
        assert same_bits(a.element_values("EPS", 0), a.element_values(54, 0))
        assert same_bits(a.element_values("eff_pl_stn", 0), a.element_values(54, 0))
        with pytest.raises(qvres.NotStoredError):
            a.element_values("eps", 0)


def test_vector_and_tensor_groups_of_a_directory():
    V = qvres.Variable
    entries = [V("Y-VELOCITY", 5, 1, 2, ""), V("X-VELOCITY", 4, 1, 2, ""), V("Z-VELOCITY", 6, 1, 2, ""),
               V("EXT_X-FORCE", 331, 2, 2, ""), V("EXT_Y-FORCE", 332, 2, 2, ""), V("EXT_Z-FORCE", 333, 3, 2, "")]
    entries += [V(n, i, 1, -2, "") for n, i in (("STRESS_XX", 67), ("STRESS_YY", 68), ("STRESS_ZZ", 69),
                                                ("STRESS_XY", 70), ("STRESS_YZ", 71), ("STRESS_ZX", 72))]
    groups = qvres.component_groups(entries)
    # The force's Z is stored for another part: no group.
    assert [(g.name, g.kind, [m.index for m in g.members]) for g in groups] == \
        [("VELOCITY", "vector", [4, 5, 6]), ("STRESS", "tensor", [67, 68, 69, 70, 71, 72])]
    vectors, axes = qvres.vector_axes(entries)
    assert vectors == {entries[1]: [entries[0], entries[2]]} and axes == {entries[0], entries[2]}
    spelt = qvres.component_groups([V(n, i, 1, 2, "") for n, i in (("X-ANG_VEL", 12), ("Y-ANG_VEL", 13),
                                                                    ("Z-ANG_VEL", 14))])
    assert [g.name for g in spelt] == ["ANG_VEL"]  # as the directory spells its members


def expected_cell(type_code, entries):
    """The cell rule written out here: solids by their first empty entry,
    shells by their fourth, beams as lines, else a poly-vertex."""
    if type_code == 1:
        if entries[7] >= 1:
            return 6, 8, 12
        for slot, kind, vtk in ((4, 5, 10), (5, 7, 14), (6, 8, 13)):
            if entries[slot] == 0:
                return kind, slot, vtk
    elif type_code == 2:
        return (9, 3, 5) if entries[3] == 0 else (10, 4, 9)
    elif type_code == 3:
        return 2, 2, 3
    used = sum(1 for x in entries if x != 0)
    return 0, used, 2 if used else 0


def test_cells_are_the_librarys_and_match_the_rule(mixed, sample):
    with qvres.open(mixed) as a:
        cells = a.cells()
        assert [tuple(map(int, c)) for c in zip(*cells)] == [(6, 8, 12), (10, 4, 9), (9, 3, 5), (2, 2, 3)]
        v = qvres.vtk_cells(a)
        assert v.types.tolist() == [12] * 8 + [12, 9, 5, 3]
        assert np.diff(v.offsets).tolist() == [8] * 8 + [8, 4, 3, 2]
        # Entry n is point 45 + n - 1.
        assert v.connectivity[v.offsets[8]:].tolist() == [44 + n for n in (1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8,
                                                                          8, 9, 10, 11, 12)]
        assert v.part.tolist() == [2] * 8 + [4, 5, 5, 6]
    with qvres.open(sample) as a:  # solids of every kind, eroded ones among them
        types, conn = a.element_types(), a.connectivity()
        got = list(zip(*a.cells()))
        assert len(got) == a.model.unstructured_elements > 0
        assert [tuple(map(int, c)) for c in got] == [expected_cell(t, e) for t, e in zip(types, conn)]


def expected_blocks(element_request, columns=1, plane=True):
    """(part, elements, first, extent, origin) of each block, from the
    extents alone: elements of parts with cells, and every slot of a plane
    for real element requests; every node of every part for node requests."""
    blocks, at = [], 0
    for part, (i, j, k) in enumerate(EXTENTS, 1):
        if not element_request:
            blocks.append((part, False, at, (i, j, k), (1, 1, 1)))
            at += i * j * k
        elif min(i, j, k) >= 2:
            blocks.append((part, True, at, (i - 1, j - 1, k - 1), (2, 2, 2)))
            at += (i - 1) * (j - 1) * (k - 1) * columns
        elif i == 1 and plane:
            blocks.append((part, False, at, (1, j, k), (1, 1, 1)))
            at += j * k * columns
    return blocks, at


def test_layouts_match_the_extents(mixed):
    with qvres.open(mixed) as a:
        for name, element, columns, materials in (("PRESSURE", True, 1, (0,)), ("TEMP", True, 3, (1, 3, 0)),
                                                  ("X-VELOCITY", False, 1, (0,)), ("MATERIAL", True, 1, (0,))):
            layout = a.layout(name, 0)
            blocks, first = expected_blocks(element, columns, plane=name != "MATERIAL")
            tail = ELEMENTS if element else UNSTRUCTURED_NODES
            assert [tuple(b) for b in layout.blocks] == blocks, name
            assert (layout.values, layout.columns, layout.unstructured_first, layout.unstructured,
                    layout.at, layout.materials) == \
                (first + tail, columns, first, tail, "element" if element else "node", materials), name
        # The values without the plane's slots are the cells: 8 of the BLOCK,
        # then the 4 unstructured elements.
        full, cells = a.element_values("PRESSURE", 0), a.element_values("PRESSURE", 0, cells=True)
        assert same_bits(cells, np.concatenate([full[12:20], full[20:]]))
        table = a.element_values("TEMP", 0, cells=True)
        assert table.shape == (12, 3) and same_bits(table, a.element_values("TEMP", 0)[12:])
        assert a.layout("displacements", 0).unstructured_columns == 3


def test_header_pair_names_and_open_options(mixed, tmp_path):
    with qvres.open(mixed) as a:
        # The fixture writes (variable, 1.0) before reals, (cycle, variable)
        # before integers.
        cycle = int(a.cycles.numbers[0])
        assert a.header_pair("PRESSURE", 0) == (64.0, 1.0)
        assert a.header_pair("TASK NUMBER", 0) == (cycle, 35)
        with pytest.raises(qvres.ArgumentError):
            a.header_pair("displacements", 0)
        base = [f for f in os.listdir(mixed) if "base" in f]
        assert a.names == qvres.Names(os.path.join(str(mixed), base[0]), str(mixed), base[0].split(".")[0],
                                      os.path.join(str(mixed), base[0].split(".")[0]))
    with pytest.raises(qvres.DamagedError):
        qvres.open(mixed, max_inflated_bytes=1)
    with pytest.raises(qvres.ArgumentError):
        qvres.open(mixed, max_inflated_bytes=-1)
    with qvres.open(mixed, clear_stale_lock=True, max_inflated_bytes=1 << 30) as a:
        assert len(a.cycles) > 0
