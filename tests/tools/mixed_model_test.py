"""The tools on the mixed model of tests/support (write_mixed_analysis): planes
(structured parts with an I extent of 1) before and after a part with cells,
a part with neither, multi-material variables with an unreported material,
and unstructured elements. Each element's value must be the one the model
stores for that element, never a plane slot's or a material's."""
import math
import os
import unittest

import numpy as np

from tooltest import (HOST_EXAMPLE, INSPECT, MIXED_EXTENTS, TO_VTK, WRITE_MIXED, ToolTest, mixed_cells,
                      read_csv, run)
from vtu import Vtu

UNSTRUCTURED = 3
NODES = 43 + 12
REPORTED = {"WATER": 0.25, "AIR": 0.75}  # material m's value is own + m / 4
STEPS = (1, 2)  # cycle c of step c - 1


def own_values(c):
    """Every element's own value in cycle c, in element order."""
    return [10000 * c + 1000 * p + s for p, s, _ in mixed_cells()] + \
           [10000 * c + 9000 + e for e in range(1, UNSTRUCTURED + 1)]


class MixedModel(ToolTest):
    TOOLS = ("QVRES_WRITE_MIXED", "QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_HOST_EXAMPLE")

    def setUp(self):
        super().setUp()
        run(WRITE_MIXED, self.path("run"))
        self.file = os.path.join(self.path("run"), "mixed_run_1.qvres")
        self.structured = len(list(mixed_cells()))

    def csv(self, *args):
        path = self.path("out.csv")
        run(INSPECT, *args, "--csv", path)
        return read_csv(path)

    def test_values_by_element(self):
        for step, c in enumerate(STEPS):
            for var in ("PRESSURE", "MATERIAL"):
                with self.subTest(step=step, var=var):
                    header, rows = self.csv("values", self.file, str(step), var, "--element")
                    self.assertEqual(header, ["element", "value (Pa)" if var == "PRESSURE" else "value"])
                    self.assertEqual([int(r[0]) for r in rows], list(range(1, len(own_values(c)) + 1)))
                    self.assertEqual([float(r[1]) for r in rows], own_values(c))

    def test_multi_material_values_keep_each_material_in_its_column(self):
        header, rows = self.csv("values", self.file, "1", "TEMP")
        self.assertEqual(header, ["element", "value (K)", "WATER (K)", "AIR (K)"])
        own = own_values(2)
        self.assertEqual([float(r[1]) for r in rows], own)
        for row, value in zip(rows[:self.structured], own):
            self.assertEqual([float(x) for x in row[2:]], [value + REPORTED["WATER"], value + REPORTED["AIR"]])
        for row in rows[self.structured:]:
            self.assertEqual(row[2:], ["", ""])

    def test_vtk_cells_carry_the_element_values(self):
        out = self.path("vtk")
        run(TO_VTK, "--single-vtu", self.file, out)
        cells = Vtu(os.path.join(out, "mixed_run_0001.vtu")).arrays
        # Planes and the part without cells give points, no cells.
        self.assertEqual(cells["displacement"].shape, (NODES, 3))
        self.assertEqual(list(cells["types"]), [12] * (self.structured + 2) + [9])
        own = np.array(own_values(2), dtype=np.float32)
        np.testing.assert_array_equal(cells["PRESSURE"], own)
        np.testing.assert_array_equal(cells["MATERIAL"], own)
        np.testing.assert_array_equal(cells["TEMP"], own)
        for material, offset in REPORTED.items():
            per_material = cells[f"TEMP[{material}]"]
            np.testing.assert_array_equal(per_material[:self.structured], own[:self.structured] + np.float32(offset))
            self.assertTrue(np.isnan(per_material[self.structured:]).all())
        np.testing.assert_array_equal(cells["part"], [2] * self.structured + [5, 5, 6])

    def test_host_example_sizes_its_arrays_for_planes_and_materials(self):
        _, out, _ = run(HOST_EXAMPLE, self.file, self.path("run"))
        lines = out.strip().splitlines()
        self.assertEqual(len(lines), len(STEPS))
        for line, c in zip(lines, STEPS):
            # The largest value is the last one written: an unstructured element's.
            peak = max(own_values(c))
            pressure = float(line.split("peak pressure")[1].split()[0])
            temperature = float(line.split("peak temperature")[1].split()[0])
            self.assertTrue(math.isclose(pressure, peak, rel_tol=1e-3), line)
            self.assertTrue(math.isclose(temperature, peak, rel_tol=1e-3), line)


def mixed_slot(part, i, j, k):
    """0-based slot of cell (i, j, k) of a structured part among all slots."""
    I, J, K = MIXED_EXTENTS[part - 1]
    return sum(a * b * c for a, b, c in MIXED_EXTENTS[:part - 1]) + ((i - 1) * J + (j - 1)) * K + (k - 1)


class EnvelopeOverGaps(ToolTest):
    """An envelope over cycles that do not store the variable or cannot be
    read: qvres-to-vtk --envelope as qvres-inspect envelope does it."""
    TOOLS = ("QVRES_WRITE_MIXED", "QVRES_INSPECT", "QVRES_TO_VTK")

    def mixed(self, name, *options):
        run(WRITE_MIXED, self.path(name), "--cycles", "1,2,3", *options)
        return os.path.join(self.path(name), "mixed_run.qvres_base")

    def envelope_vtk(self, *args):
        out = self.path("env")
        rc, stdout, err = run(TO_VTK, "--single-vtu", "--envelope", "PRESSURE", *args, out, check=False)
        arrays = Vtu(os.path.join(out, "mixed_run_envelope.vtu")).arrays if rc == 0 else None
        return rc, err, arrays

    def inspect_envelope(self, *args):
        path = self.path("env.csv")
        rc, _, err = run(INSPECT, "envelope", *args, "PRESSURE", "--element", "--csv", path, check=False)
        return rc, err, (read_csv(path)[1] if rc == 0 else None)

    def test_a_variable_the_first_cycles_do_not_store(self):
        base = self.mixed("absent", "--drop", "1", "PRESSURE")
        # Cycles 2 and 3 store it; cycle 3's values are the larger.
        peak, at = np.array(own_values(3), np.float32), np.float32(0.003)
        for args in ([], ["--keep-going"]):
            rc, err, arrays = self.envelope_vtk(*args, base)
            self.assertEqual(rc, 0, err)
            np.testing.assert_array_equal(arrays["PRESSURE_max"], peak)
            np.testing.assert_allclose(arrays["PRESSURE_max_time"], np.full(len(peak), at), rtol=1e-6)
            self.assertIn("qvres-to-vtk: warning: PRESSURE is not stored in 1 of 3 steps: "
                          "step 0 (cycle 1, t = 0.001 s)", err)
            rc, err, rows = self.inspect_envelope(base, *args)
            self.assertEqual(rc, 0, err)
            self.assertEqual([float(r[1]) for r in rows], list(peak))
            self.assertIn("qvres-inspect: warning: PRESSURE (element real, variable 64, part 1) is not stored in "
                          "1 of 3 steps: step 0 (cycle 1, t = 0.001 s)", err)
        # Absent from the last cycle: the peak of the others, the same warning.
        rc, err, arrays = self.envelope_vtk(self.mixed("late", "--drop", "3", "PRESSURE"))
        self.assertEqual(rc, 0, err)
        np.testing.assert_array_equal(arrays["PRESSURE_max"], np.array(own_values(2), np.float32))
        self.assertIn("PRESSURE is not stored in 1 of 3 steps: step 2 (cycle 3, t = 0.003 s)", err)
        # Stored everywhere: no warning.
        rc, err, _ = self.envelope_vtk(self.mixed("all"))
        self.assertEqual((rc, err), (0, ""))

    def test_a_cycle_file_cut_inside_the_arrays_is_passed_over_only_with_keep_going(self):
        base = self.mixed("cut", "--cut", "2", "1314")
        for tool in (self.envelope_vtk, self.inspect_envelope):
            rc, err, _ = tool(base)
            self.assertEqual(rc, 1, err)
            self.assertIn("mixed_run_2.qvres", err.strip().splitlines()[-1])
            self.assertIn("damaged or truncated", err)
        rc, err, arrays = self.envelope_vtk("--keep-going", base)
        self.assertEqual(rc, 0, err)
        np.testing.assert_array_equal(arrays["PRESSURE_max"], np.array(own_values(3), np.float32))
        self.assertRegex(err, r"qvres-to-vtk: warning: step 1 \(cycle 2, t = 0.002 s\): \S*mixed_run_2.qvres: "
                              r".*damaged or truncated.*: left out\n")
        rc, inspect_err, rows = self.inspect_envelope(base, "--keep-going")
        self.assertEqual(rc, 0, inspect_err)
        self.assertEqual([float(r[1]) for r in rows], own_values(3))
        # Both tools name the step left out alike.
        self.assertEqual(err.replace("qvres-to-vtk", "qvres-inspect"), inspect_err)

    def test_a_name_of_node_and_element_entries_and_cycles_none_can_read(self):
        # EROSION is an element integer entry, then a node integer one: the
        # export takes the first, as it always has (one value per cell).
        base = self.mixed("both")
        rc, _, err = run(TO_VTK, "--single-vtu", "--envelope", "EROSION", base, self.path("both_vtk"), check=False)
        self.assertEqual(rc, 0, err)
        vtu = Vtu(os.path.join(self.path("both_vtk"), "mixed_run_envelope.vtu"))
        cell_names = [d.get("Name") for c in vtu.root.iter("CellData") for d in c.iter("DataArray")]
        self.assertIn("EROSION_max", cell_names)
        # No cycle readable: with --keep-going, the first failure, naming
        # its file, not a variable "not stored".
        cut = self.mixed("none", "--cut", "1", "200", "--cut", "2", "200", "--cut", "3", "200")
        for tool in (self.envelope_vtk, self.inspect_envelope):
            rc, err, _ = tool("--keep-going", cut)
            self.assertEqual(rc, 1, err)
            self.assertIn("mixed_run_1.qvres", err.strip().splitlines()[-1])
            self.assertNotIn("not stored", err)
            self.assertNotIn("names no", err)


class WholeNumbers(ToolTest):
    """Integer values near the top of their range are shown digit for digit."""
    TOOLS = ("QVRES_WRITE_MIXED", "QVRES_INSPECT")

    def test_history_of_an_integer_variable_in_full(self):
        status = 2 + mixed_slot(2, 3, 2, 3)  # element 6, the CUBE's cell (3, 2, 3)
        run(WRITE_MIXED, self.path("run"), "--set", "1", "STATUS", status, "2000000148",
            "--set", "2", "STATUS", status, "-2147483647")
        base = os.path.join(self.path("run"), "mixed_run.qvres_base")
        _, out, _ = run(INSPECT, "history", base, "STATUS", "--element", "6", "--csv", self.path("h.csv"))
        _, rows = read_csv(self.path("h.csv"))
        self.assertEqual([r[3] for r in rows], ["2000000148", "-2147483647"])
        self.assertEqual([line.split()[-1] for line in out.splitlines()[2:]], ["2000000148", "-2147483647"])
        # A real variable keeps its nine digits.
        run(INSPECT, "history", base, "PRESSURE", "--element", "6", "--csv", self.path("p.csv"))
        self.assertEqual([r[3] for r in read_csv(self.path("p.csv"))[1]],
                         ["%.9g" % own_values(c)[5] for c in STEPS])
        _, out, _ = run(INSPECT, "values", base, "0", "STATUS", "--element")
        self.assertIn("max    2000000148\n", out)


if __name__ == "__main__":
    unittest.main()
