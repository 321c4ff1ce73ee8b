"""What the package asks the library instead of knowing it: the catalogue
(multi-material variables, groups, the name rule), the cells of the
unstructured elements, where values stand, the stored header pair and the
run's names; each checked against what the fixture wrote, worked out here
from its sizes."""
import os

import numpy as np
import pytest

import qvres
from conftest import same_bits

# The fixture (write_fixture.cpp): a plane SHEET 1 x 3 x 4, a BLOCK 3 x 3 x 3,
# a STRIP 2 x 1 x 3 without cells; then 12 unstructured nodes and a
# hexahedron, a quadrilateral and a triangular shell, and a beam. AIR and
# FOAM are the reported materials (numbers 1 and 3).


def test_multi_material_variables_are_the_catalogues_eight():
    assert qvres.MULTI_MATERIAL == {54, 81, 83, 85, 86, 87, 88, 89}
    assert {e.variable for e in qvres.catalogue(real=True) if e.multi_material} == qvres.MULTI_MATERIAL
    assert not any(e.multi_material for e in qvres.catalogue(real=False))


def test_a_name_resolves_by_the_librarys_one_rule(mixed):
    # The rule's spellings: qvres/catalogue_test.cpp and front_ends_test.py;
    # here the entry the package makes of the record, and the families.
    e = qvres.find_variable(" stn rate xx\t")
    assert (e.variable, e.name, e.display_name, e.identifier) == (28, "STN.RATE XX", "STN_RATE_XX", "IVR_EXXD")
    assert (e.group, e.component, e.group_name, e.members) == ("tensor", 0, "STN.RATE", (28, 29, 30, 31, 32, 33))
    assert qvres.find_variable("PRESSURES") is None and qvres.find_variable("material") is None
    assert qvres.find_variable("material", real=False).variable == 10
    with qvres.open(mixed) as a:
        assert same_bits(a.element_values("ivr.pres", 0), a.element_values(64, 0))
        assert same_bits(a.node_values("Task.Number", 0), a.node_values(35, 0))
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


def test_cells_are_the_librarys(mixed):
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


# The layouts of the fixture worked out from its extents: (blocks as (part,
# elements, first, extent, origin), values, columns, unstructured first,
# at, materials). Element reals take every slot of the plane SHEET.
SHEET = (1, False, 0, (1, 3, 4), (1, 1, 1))
LAYOUTS = {"PRESSURE": ([SHEET, (2, True, 12, (2, 2, 2), (2, 2, 2))], 24, 1, 20, "element", (0,)),
           "TEMP": ([SHEET, (2, True, 36, (2, 2, 2), (2, 2, 2))], 64, 3, 60, "element", (1, 3, 0)),
           "X-VELOCITY": ([SHEET, (2, False, 12, (3, 3, 3), (1, 1, 1)), (3, False, 39, (2, 1, 3), (1, 1, 1))],
                          57, 1, 45, "node", (0,)),
           "MATERIAL": ([(2, True, 0, (2, 2, 2), (2, 2, 2))], 12, 1, 8, "element", (0,))}


def test_layouts_match_the_extents(mixed):
    with qvres.open(mixed) as a:
        for name, (blocks, values, columns, first, at, materials) in LAYOUTS.items():
            layout = a.layout(name, 0)
            assert [tuple(b) for b in layout.blocks] == blocks, name
            assert (layout.values, layout.columns, layout.unstructured_first, layout.unstructured, layout.at,
                    layout.materials) == (values, columns, first, values - first, at, materials), name
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
