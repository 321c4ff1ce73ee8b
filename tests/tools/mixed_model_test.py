"""The tools on the mixed model of tests/support (write_mixed_analysis): planes
(structured parts with an I extent of 1) before and after a part with cells,
a part with neither, multi-material variables with an unreported material,
and unstructured elements. Each element's value must be the one the model
stores for that element, never a plane slot's or a material's."""
import math
import os
import unittest

import numpy as np

from tooltest import HOST_EXAMPLE, INSPECT, TO_VTK, WRITE_MIXED, ToolTest, mixed_cells, read_csv, run
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


if __name__ == "__main__":
    unittest.main()
