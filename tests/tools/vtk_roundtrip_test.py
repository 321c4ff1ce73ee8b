"""The exported .vtu files read back with meshio hold what the library
returns: the reference numbers come from qvres-inspect, which reads them
through the library, not from the sample's writer."""
import math
import os
import re
import unittest
import xml.etree.ElementTree as ET

try:
    import meshio
except ImportError:
    raise SystemExit("python3-meshio is missing: scripts/install-deps.sh python3-meshio python3-numpy")
import numpy as np

from tooltest import INSPECT, TO_VTK, SampleTest, read_csv, run

# The sample's cells by VTK kind: the block's 600 cells and the plate's 12
# hexahedra, then the structure's other parts.
CELLS = {"hexahedron": 612, "wedge": 2, "tetra": 6, "pyramid": 1, "quad": 6, "triangle": 4, "line": 4}


def cell_array(mesh, name):
    return np.concatenate(mesh.cell_data[name])


class RoundTrip(SampleTest):
    def setUp(self):
        super().setUp()
        self.out = self.path("vtk")
        run(TO_VTK, self.cycle, self.out)
        _, self.summary, _ = run(INSPECT, "summary", self.cycle)

    def reference(self, *args):
        """Columns of a qvres-inspect CSV as float arrays (empty cells NaN)."""
        csv = self.path("ref.csv")
        run(INSPECT, *args, "--csv", csv)
        header, rows = read_csv(csv)
        return {h: np.array([float(r[i]) if r[i] else math.nan for r in rows]) for i, h in enumerate(header)}

    def test_reading_alone_writes_nothing(self):
        before = sorted(os.listdir(self.out))
        _, out, _ = run(TO_VTK, "--read-only", self.cycle)
        self.assertIn("read 12 steps", out)
        self.assertEqual(sorted(os.listdir(self.out)), before)

    def test_collection_lists_every_cycle_with_its_time(self):
        cycles = re.findall(r"^\s+(\d+)\s+(\d+)\s+([0-9.e+-]+)$", self.summary.split("\ncycles")[1], re.M)
        datasets = ET.parse(os.path.join(self.out, "sample_run.pvd")).getroot().findall("./Collection/DataSet")
        self.assertEqual(len(datasets), len(cycles))
        for (step, cycle, time), ds in zip(cycles, datasets):
            self.assertAlmostEqual(float(ds.get("timestep")), float(time), delta=float(time) * 1e-6 + 1e-15)
            mesh = meshio.read(os.path.join(self.out, ds.get("file")))
            self.assertEqual(int(mesh.field_data["CYCLE"][0]), int(cycle))
            self.assertAlmostEqual(float(mesh.field_data["TimeValue"][0]), float(ds.get("timestep")), delta=1e-12)

    def test_points_cells_and_values_are_the_library_s(self):
        nodes = self.reference("nodes", self.cycle)
        xyz = np.column_stack([nodes["x"], nodes["y"], nodes["z"]])
        for step in (0, 6, 11):
            with self.subTest(step=step):
                mesh = meshio.read(os.path.join(self.out, f"sample_run_{step:04d}.vtu"))
                np.testing.assert_array_equal(mesh.points, xyz.astype(np.float32))
                counts = {}
                for block in mesh.cells:
                    counts[block.type] = counts.get(block.type, 0) + len(block.data)
                self.assertEqual(counts, CELLS)
                # Cells in element order: the block's cells come first.
                self.assertEqual(mesh.cells[0].type, "hexahedron")
                first = mesh.points[mesh.cells[0].data[0]]
                np.testing.assert_allclose(first.max(axis=0) - first.min(axis=0), [0.005] * 3, atol=1e-9)
                self.assertTrue(all(b.data.min() >= 882 for b in mesh.cells[1:]))

                pressure = self.reference("values", self.cycle, str(step), "PRESSURE")
                np.testing.assert_array_equal(cell_array(mesh, "PRESSURE"), pressure["value"].astype(np.float32))
                material = self.reference("values", self.cycle, str(step), "MATERIAL")
                np.testing.assert_array_equal(cell_array(mesh, "MATERIAL"), material["value"])
                temp = self.reference("values", self.cycle, str(step), "TEMP")
                np.testing.assert_array_equal(cell_array(mesh, "TEMP"), temp["value"].astype(np.float32))
                np.testing.assert_array_equal(cell_array(mesh, "TEMP[TNT]"), temp["TNT"].astype(np.float32))
                velocity = self.reference("values", self.cycle, str(step), "X-VELOCITY")
                np.testing.assert_array_equal(mesh.point_data["X-VELOCITY"], velocity["value"].astype(np.float32))
                moved = self.reference("nodes", self.cycle, str(step))
                d = np.column_stack([moved["dx"], moved["dy"], moved["dz"]]).astype(np.float32)
                np.testing.assert_array_equal(mesh.point_data["displacement"], d)
        self.assertGreater(np.abs(d).max(), 5e-4, "the structure has moved by the last cycle")


if __name__ == "__main__":
    unittest.main()
