"""The exported .vtu files read back hold what the library returns: the
reference numbers come from qvres-inspect, which reads them through the
library, not from the sample's writer. Files are read with the strict reader
of vtu.py (meshio reads them in tests/python/test_arrays.py and the demo
test)."""
import filecmp
import math
import os
import unittest
import xml.etree.ElementTree as ET

import numpy as np

from tooltest import INSPECT, TO_VTK, SampleTest, cycle_table, read_csv, run
from vtu import Vtu

# The sample's cells by VTK type: the block's 600 cells and the plate's 12
# hexahedra, then the structure's other parts.
CELLS = {12: 612, 13: 2, 10: 6, 14: 1, 9: 6, 5: 4, 3: 4}


class RoundTrip(SampleTest):
    def setUp(self):
        super().setUp()
        self.out = self.path("vtk")
        run(TO_VTK, self.cycle, self.out)
        _, self.summary, _ = run(INSPECT, "summary", self.cycle)

    def reference(self, *args):
        """Columns of a qvres-inspect CSV as float arrays (empty cells NaN),
        by header without its unit."""
        csv = self.path("ref.csv")
        run(INSPECT, *args, "--csv", csv)
        header, rows = read_csv(csv)
        return {h.split(" (")[0]: np.array([float(r[i]) if r[i] else math.nan for r in rows])
                for i, h in enumerate(header)}

    def test_collection_lists_every_cycle_with_its_time(self):
        cycles = cycle_table(self.summary)
        datasets = ET.parse(os.path.join(self.out, "sample_run.pvd")).getroot().findall("./Collection/DataSet")
        self.assertEqual(len(datasets), len(cycles))
        for (step, cycle, time), ds in zip(cycles, datasets):
            self.assertAlmostEqual(float(ds.get("timestep")), time, delta=time * 1e-6 + 1e-15)
            vtu = Vtu(os.path.join(self.out, ds.get("file")))
            self.assertEqual(int(vtu.arrays["CYCLE"][0]), cycle)
            self.assertAlmostEqual(float(vtu.arrays["TimeValue"][0]), float(ds.get("timestep")), delta=1e-12)

    def test_points_cells_and_values_are_the_library_s(self):
        nodes = self.reference("nodes", self.cycle)
        xyz = np.column_stack([nodes["x"], nodes["y"], nodes["z"]]).astype(np.float32)
        for step in (0, 6, 11):
            with self.subTest(step=step):
                vtu = Vtu(os.path.join(self.out, f"sample_run_{step:04d}.vtu"))
                self.assertTrue(vtu.compressed)
                a = vtu.arrays
                np.testing.assert_array_equal(a["Points"], xyz)
                self.assertEqual(dict(zip(*np.unique(a["types"], return_counts=True))), CELLS)
                # Cells in element order: the block's cells come first.
                first = a["Points"][a["connectivity"][:8]]
                np.testing.assert_allclose(first.max(axis=0) - first.min(axis=0), [0.005] * 3, atol=1e-9)
                self.assertTrue((a["connectivity"][600 * 8:] >= 882).all())

                for name, column in (("PRESSURE", "value"), ("MATERIAL", "value"), ("TEMP", "value"),
                                     ("TEMP[TNT]", "TNT")):
                    ref = self.reference("values", self.cycle, str(step), name.split("[")[0])
                    np.testing.assert_array_equal(a[name], ref[column].astype(a[name].dtype), name)
                # X-, Y- and Z-VELOCITY as one vector.
                self.assertEqual(vtu.point_arrays(), ["displacement", "VELOCITY", "TASK_NUMBER"])
                for k, axis in enumerate("XYZ"):
                    ref = self.reference("values", self.cycle, str(step), f"{axis}-VELOCITY")
                    np.testing.assert_array_equal(a["VELOCITY"][:, k], ref["value"].astype(np.float32))
                moved = self.reference("nodes", self.cycle, str(step))
                d = np.column_stack([moved["dx"], moved["dy"], moved["dz"]]).astype(np.float32)
                np.testing.assert_array_equal(a["displacement"], d)
        self.assertGreater(np.abs(d).max(), 5e-4, "the structure has moved by the last cycle")

    def test_compressed_and_raw_agree(self):
        raw = self.path("raw")
        run(TO_VTK, "--no-compress", self.cycle, raw)
        total = {True: 0, False: 0}
        for name in sorted(os.listdir(self.out)):
            if not name.endswith(".vtu"):
                continue
            packed, plain = Vtu(os.path.join(self.out, name)), Vtu(os.path.join(raw, name))
            self.assertFalse(plain.compressed)
            self.assertEqual(list(packed.arrays), list(plain.arrays))
            for key, values in packed.arrays.items():
                np.testing.assert_array_equal(values, plain.arrays[key], f"{name} {key}")
            total[True] += os.path.getsize(os.path.join(self.out, name))
            total[False] += os.path.getsize(os.path.join(raw, name))
        self.assertLess(total[True], total[False] / 2)

    def test_threads_write_the_same_bytes(self):
        for threads in ("1", "3"):
            other = self.path("t" + threads)
            run(TO_VTK, "--threads", threads, self.cycle, other)
            match, mismatch, errors = filecmp.cmpfiles(self.out, other, sorted(os.listdir(self.out)), shallow=False)
            self.assertEqual((len(match), mismatch, errors), (13, [], []), threads)

    def test_steps_and_vars_select(self):
        chosen = self.path("chosen")
        run(TO_VTK, "--steps", "2,5-6", "--vars", "velocity,64,part", self.cycle, chosen)
        self.assertEqual(sorted(os.listdir(chosen)),
                         ["sample_run.pvd", "sample_run_0002.vtu", "sample_run_0005.vtu", "sample_run_0006.vtu"])
        vtu = Vtu(os.path.join(chosen, "sample_run_0005.vtu"))
        self.assertEqual((vtu.point_arrays(), vtu.cell_arrays()), (["VELOCITY"], ["PRESSURE", "part"]))
        full = Vtu(os.path.join(self.out, "sample_run_0005.vtu"))
        for name in ("VELOCITY", "PRESSURE", "part", "Points", "connectivity"):
            np.testing.assert_array_equal(vtu.arrays[name], full.arrays[name])
        # One axis alone stays a scalar.
        run(TO_VTK, "--steps", "5", "--vars", "Y-VELOCITY", self.cycle, chosen)
        self.assertEqual(Vtu(os.path.join(chosen, "sample_run_0005.vtu")).point_arrays(), ["Y-VELOCITY"])


if __name__ == "__main__":
    unittest.main()
