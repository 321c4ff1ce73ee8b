"""The functions the package binds: every one of qvres.h, and what the
package makes of part nodes, every-slot queries, joints and rigid bodies,
checked against what the fixture and the sample wrote and against the 59
exports."""
import ctypes
import os
import re

import numpy as np
import pytest

import qvres
from conftest import ENV, same_bits

I32, F32 = np.int32, np.float32


def header_functions():
    """{name: (returns void, parameter count)} of every function qvres.h
    declares."""
    path = os.path.join(ENV["QVRES_SOURCE_DIR"], "include", "qvres.h")
    with open(path) as f:
        source = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
    found = {}
    for returns, name, params in re.findall(r"QVRES_EXPORT\s+([^;{}]*?)\s*QVRES_CALL\s+(qvres_\w+)\s*\(([^)]*)\)\s*;",
                                            source):
        params = params.strip()
        found[name] = (returns.strip() == "void", 0 if params in ("", "void") else params.count(",") + 1)
    return found


def test_every_function_of_the_header_is_bound():
    declared = header_functions()
    # Enough found that the parse works: the first release had 24.
    assert len(declared) >= 24 and "qvres_read_rigid_body" in declared
    bound = qvres._lib._SIGNATURES
    assert sorted(set(declared) - set(bound)) == [], "declared in qvres.h but not bound"
    assert sorted(set(bound) - set(declared)) == [], "bound but not declared in qvres.h"
    lib = qvres._lib.library()
    for name, (void, count) in declared.items():
        restype, argtypes = bound[name]
        assert (restype is None) == void and len(argtypes) == count, name
        assert getattr(lib, name).argtypes == argtypes, name


def test_library_version_is_the_header_version():
    with open(os.path.join(ENV["QVRES_SOURCE_DIR"], "include", "qvres.h")) as f:
        macros = dict(re.findall(r"#define QVRES_VERSION_(MAJOR|MINOR|PATCH) (\d+)", f.read()))
    assert qvres.library_version() == (int(macros["MAJOR"]), int(macros["MINOR"]), int(macros["PATCH"]))


def test_status_texts():
    texts = [qvres.status_text(s) for s in range(9)]
    assert texts[5] == "damaged or truncated file"
    assert all(texts) and len(set(texts)) == 9
    assert qvres.status_text(99) == "unknown status"
    with pytest.raises(qvres.ArgumentError):
        qvres.status_text(2**40)


def first_use(rows, conn):
    """The distinct non-zero entries of the connectivity rows (1-based), in
    the order the rows use them."""
    seen = []
    for row in rows:
        for n in conn[row - 1]:
            if n and n not in seen:
                seen.append(int(n))
    return seen


@pytest.mark.parametrize("fixture", ["sample", "mixed"])
def test_part_nodes_are_the_nodes_the_part_elements_use(request, fixture, exports):
    with qvres.open(request.getfixturevalue(fixture)) as a:
        exports.open(a.path)
        conn = a.connectivity()
        for p in a.parts:
            if p.structured:
                with pytest.raises(qvres.ArgumentError, match=f"no unstructured part {p.number}"):
                    a.part_nodes(p.number)
                continue
            nodes = a.part_nodes(p.number)
            assert nodes.dtype == I32 and nodes.tolist() == first_use(a.part_elements(p.number), conn)
            assert same_bits(nodes, exports.array("get_NodePartConnectivity", p.nodes, I32, p.number))
        with pytest.raises(qvres.ArgumentError):
            a.part_nodes(len(a.parts) + 1)


# The fixture's units (mm, kg, ms): pressure in GPa.
GPA = 1e9
SLOTS, ELEMENTS = 45, 4


def fixture_slots(c, variable, per_slot, per_element, values_per_slot=1):
    """What write_fixture stores for a real element variable in cycle number
    `c`, the element's own value of each slot (the last of the slot's
    values), then the unstructured elements."""
    own = values_per_slot - 1
    slots = [c + per_slot * s + 0.125 * (own + 1) * variable for s in range(SLOTS)]
    return np.array(slots + [-c - per_element * (u + 1) for u in range(ELEMENTS)])


def test_slot_values_are_every_slot_the_fixture_wrote(mixed):
    with qvres.open(mixed) as a:
        for k, c in enumerate(a.cycles.numbers.tolist()):
            pressure = a.slot_values("PRESSURE", k)
            assert pressure.dtype == F32 and len(pressure) == SLOTS + ELEMENTS
            np.testing.assert_allclose(pressure, GPA * fixture_slots(c, 64, 2.0, 3.0), rtol=1e-6)
            np.testing.assert_allclose(a.slot_values("PRESSURE", k, part=2),
                                       GPA * fixture_slots(c, 64, 7.0, 5.0), rtol=1e-6)
            # Multi-material: the element's own value of each slot.
            np.testing.assert_allclose(a.slot_values("TEMP", k), fixture_slots(c, 86, 1.5, 2.0, 4), rtol=1e-6)
            np.testing.assert_allclose(a.slot_values(54, k), fixture_slots(c, 54, 0.25, 4.0, 4), rtol=1e-6)
            material = a.slot_values("MATERIAL", k)
            assert material.dtype == I32
            assert material.tolist() == [1 + (s + c) % 3 for s in range(SLOTS + ELEMENTS)]
        with pytest.raises(qvres.ArgumentError, match="node variable"):
            a.slot_values("X-VELOCITY", 0)


def test_joints_and_rigid_bodies_are_the_exports_records(sample, exports):
    # Units and frames are the library's (exports/joints_test.cpp, and
    # qvres/differential_test.cpp against libqvres); here the package's
    # shapes: triples, the frame column by column, the body's 4 x 4 motion.
    with qvres.open(sample) as a:
        exports.open(a.path)
        for k in range(len(a.cycles)):
            exports("set_newStep", k)
            for q in [q for q in range(-13, 14) if q]:
                record = np.zeros(16, F32)
                exports("get_JointData", 1, q, record.ctypes.data_as(ctypes.c_void_p))
                ours = a.joint(1, q, k)
                assert ours.dtype == F32 and ours.shape == ((4, 4) if q == 11 else (3,)), q
                assert same_bits(ours.T.ravel() if q == 11 else ours, record if q == 11 else record[:3]), q
            # A joint the cycle does not hold, and quantity 0: zeros.
            assert not a.joint(2, 1, k).any() and not a.joint(1, 0, k).any()
            moved = a.rigid_body(1, k)
            record = np.zeros(12, F32)
            exports("get_RigidBodyData", 1, record.ctypes.data_as(ctypes.c_void_p))
            assert moved.shape == (4, 4) and moved.dtype == F32 and np.array_equal(moved[3], [0, 0, 0, 1])
            assert same_bits(moved[:3, :3].T.ravel(), record[:9]) and same_bits(moved[:3, 3], record[9:])
            # A body the cycle does not hold does not move.
            assert np.array_equal(a.rigid_body(7, k), np.eye(4))
        assert a.rigid_body(1, -1)[1, 0] > 0.01  # it has turned by the end
        for bad in ((1, 14), (1, -14), (1, 2**31), (1.5, 1)):
            with pytest.raises(qvres.ArgumentError):
                a.joint(*bad, 0)


def test_the_paraview_reader_uses_only_the_public_api():
    import ast
    path = os.path.join(ENV["QVRES_SOURCE_DIR"], "paraview", "qvres_reader.py")
    with open(path) as f:
        tree = ast.parse(f.read())
    used = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.module and node.module.split(".")[0] == "qvres":
            assert node.module == "qvres", f"line {node.lineno}: imports {node.module}"
            used.update(a.name for a in node.names)
        elif isinstance(node, ast.Import):
            assert all(a.name == "qvres" for a in node.names if a.name.startswith("qvres")), node.lineno
        elif isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name) and node.value.id == "qvres":
            used.add(node.attr)
    assert {"element_cells", "ArrayNames", "component_groups", "find_variable", "open"} <= used
    assert sorted(used - set(qvres.__all__)) == []
    for name in qvres.__all__:
        assert not name.startswith("_") and getattr(qvres, name).__doc__, name


def test_public_mesh_helpers():
    # A 3 x 2 x 2 block starting at point 10: two cells along I, corners in
    # VTK order (the lower face counter-clockwise, then the upper one).
    cells = qvres.structured_cells(10, 3, 2, 2)
    node = lambda i, j, k: 10 + (i * 2 + j) * 2 + k  # noqa: E731 - K fastest
    assert cells.tolist() == [[node(a, 0, 0), node(a + 1, 0, 0), node(a + 1, 1, 0), node(a, 1, 0),
                               node(a, 0, 1), node(a + 1, 0, 1), node(a + 1, 1, 1), node(a, 1, 1)]
                              for a in (0, 1)]
    assert qvres.structured_cells(0, 1, 3, 4).shape == (0, 8)
    # Vector axes: test_catalogue. Names of a variable stored for two parts.
    V = qvres.Variable
    names = qvres.ArrayNames()
    assert [names(V("PRESSURE", 64, p, -2, "Pa")) for p in (2, 3)] + [names.unique("x"), names.unique("x")] == \
        ["PRESSURE_part2", "PRESSURE_part3", "x", "x_2"]
