"""The exported files read back hold what the library returns: the
reference numbers come from qvres-inspect, which reads them through the
library, not from the sample's writer: the one .vtu per cycle of
--single-vtu, and the multiblock layout against it and against the
library. Files are read with the strict reader of vtu.py (meshio reads
them in tests/python/test_arrays.py and the demo test; VTK and pvpython in
tests/python/test_paraview_*)."""
import filecmp
import math
import os
import re
import unittest
import xml.etree.ElementTree as ET

import numpy as np

from tooltest import INSPECT, TO_VTK, SampleTest, cycle_table, read_csv, run
from vtu import Vtu

# The sample's cells by VTK type: the block's 600 cells and the plate's 12
# hexahedra, then the structure's other parts.
CELLS = {12: 612, 13: 2, 10: 6, 14: 1, 9: 6, 5: 4, 3: 4}


def parts_of(summary):
    """(number, kind, (I, J, K) or None, name) of each part qvres-inspect summary lists."""
    rows = re.findall(r"^\s+(\d+)\s+(structured|unstructured)\s+(\d+ x \d+ x \d+|-)\s+\d+\s+\d+\s+(\S.*)$",
                      summary, re.M)
    return [(int(n), kind, tuple(int(x) for x in e.split(" x ")) if e != "-" else None, name)
            for n, kind, e, name in rows]


class Export(SampleTest):
    """The one .vtu per cycle of --single-vtu, and the multiblock layout: a
    .vtm per step naming a .vts per structured part and a .vtu per
    unstructured part."""

    def setUp(self):
        super().setUp()
        self.out, self.single = self.path("blocks"), self.path("single")
        run(TO_VTK, self.cycle, self.out)
        run(TO_VTK, "--single-vtu", self.cycle, self.single)
        _, summary, _ = run(INSPECT, "summary", self.cycle)
        self.parts = parts_of(summary)
        self.cycles = cycle_table(summary)

    def reference(self, *args):
        """Columns of a qvres-inspect CSV as float arrays (empty cells NaN),
        by header without its unit."""
        csv = self.path("ref.csv")
        run(INSPECT, *args, "--csv", csv)
        header, rows = read_csv(csv)
        return {h.split(" (")[0]: np.array([float(r[i]) if r[i] else math.nan for r in rows])
                for i, h in enumerate(header)}

    def blocks(self, step, out=None):
        """(name, file) of each block of a step's .vtm."""
        root = ET.parse(os.path.join(out or self.out, f"sample_run_{step:04d}.vtm")).getroot()
        self.assertEqual(root.get("type"), "vtkMultiBlockDataSet")
        return [(d.get("name"), os.path.join(out or self.out, d.get("file"))) for d in root.iter("DataSet")]

    def test_the_collections_list_every_cycle_with_its_time_and_the_blocks_the_parts(self):
        for out, suffix in ((self.single, "vtu"), (self.out, "vtm")):
            datasets = ET.parse(os.path.join(out, "sample_run.pvd")).getroot().findall("./Collection/DataSet")
            self.assertEqual([d.get("file") for d in datasets], [f"sample_run_{s:04d}.{suffix}" for s, _, _ in self.cycles])
            for (_, cycle, time), ds in zip(self.cycles, datasets):
                self.assertAlmostEqual(float(ds.get("timestep")), time, delta=time * 1e-6 + 1e-15)
                if suffix == "vtu":
                    vtu = Vtu(os.path.join(out, ds.get("file")))
                    self.assertEqual(int(vtu.arrays["CYCLE"][0]), cycle)
                    self.assertAlmostEqual(float(vtu.arrays["TimeValue"][0]), float(ds.get("timestep")), delta=1e-12)
        self.assertEqual(len(self.parts), 8)
        blocks = self.blocks(3)
        self.assertEqual([n for n, _ in blocks], [p[3] for p in self.parts])
        self.assertEqual([os.path.splitext(f)[1] for _, f in blocks],
                         [".vts" if kind == "structured" else ".vtu" for _, kind, _, _ in self.parts])
        for _, file in blocks:
            self.assertEqual(int(Vtu(file).arrays["CYCLE"][0]), self.cycles[3][1])

    def test_points_cells_and_values_are_the_library_s(self):
        nodes = self.reference("nodes", self.cycle)
        xyz = np.column_stack([nodes["x"], nodes["y"], nodes["z"]]).astype(np.float32)
        for step in (0, 6, 11):
            with self.subTest(step=step):
                vtu = Vtu(os.path.join(self.single, f"sample_run_{step:04d}.vtu"))
                self.assertTrue(vtu.compressed)
                a = vtu.arrays
                np.testing.assert_array_equal(a["Points"], xyz)
                self.assertEqual(dict(zip(*np.unique(a["types"], return_counts=True))), CELLS)
                # Eroded elements (the tetrahedra, late on) hidden, as in the blocks.
                hidden = a["EROSION"] != 0
                self.assertEqual(hidden.any(), step == 11)
                if hidden.any():
                    np.testing.assert_array_equal(a["vtkGhostType"], np.where(hidden, 32, 0))
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
        run(TO_VTK, "--single-vtu", "--no-compress", self.cycle, raw)
        total = {True: 0, False: 0}
        for name in sorted(os.listdir(self.single)):
            if not name.endswith(".vtu"):
                continue
            packed, plain = Vtu(os.path.join(self.single, name)), Vtu(os.path.join(raw, name))
            self.assertFalse(plain.compressed)
            self.assertEqual(list(packed.arrays), list(plain.arrays))
            for key, values in packed.arrays.items():
                np.testing.assert_array_equal(values, plain.arrays[key], f"{name} {key}")
            total[True] += os.path.getsize(os.path.join(self.single, name))
            total[False] += os.path.getsize(os.path.join(raw, name))
        self.assertLess(total[True], total[False] / 2)

    def test_steps_and_vars_select(self):
        chosen = self.path("chosen")
        run(TO_VTK, "--single-vtu", "--steps", "2,5-6", "--vars", "velocity,64,part", self.cycle, chosen)
        self.assertEqual(sorted(os.listdir(chosen)),
                         ["sample_run.pvd", "sample_run_0002.vtu", "sample_run_0005.vtu", "sample_run_0006.vtu"])
        vtu = Vtu(os.path.join(chosen, "sample_run_0005.vtu"))
        self.assertEqual((vtu.point_arrays(), vtu.cell_arrays()), (["VELOCITY"], ["PRESSURE", "part"]))
        full = Vtu(os.path.join(self.single, "sample_run_0005.vtu"))
        for name in ("VELOCITY", "PRESSURE", "part", "Points", "connectivity"):
            np.testing.assert_array_equal(vtu.arrays[name], full.arrays[name])
        # One axis alone stays a scalar.
        run(TO_VTK, "--single-vtu", "--steps", "5", "--vars", "Y-VELOCITY", self.cycle, chosen)
        self.assertEqual(Vtu(os.path.join(chosen, "sample_run_0005.vtu")).point_arrays(), ["Y-VELOCITY"])

    def test_the_structured_block_holds_each_node_and_element_at_its_i_j_k(self):
        [(number, _, (I, J, K), _)] = [p for p in self.parts if p[1] == "structured"]
        step = 7
        vts = Vtu(self.blocks(step)[0][1])
        self.assertEqual(vts.root.tag, "VTKFile")
        self.assertEqual(vts.root.get("type"), "StructuredGrid")
        self.assertEqual(vts.root.find("StructuredGrid").get("WholeExtent"), f"0 {I - 1} 0 {J - 1} 0 {K - 1}")
        nodes = self.reference("nodes", self.cycle, str(step))
        pressure = self.reference("values", self.cycle, str(step), "PRESSURE")["value"]
        velocity = [self.reference("values", self.cycle, str(step), f"{a}-VELOCITY")["value"] for a in "XYZ"]
        a = vts.arrays
        # VTK counts I fastest; the library's node and element numbers K
        # fastest (the block is the first part).
        in_vtk_order = lambda v, i, j, k: v[:i * j * k].reshape(i, j, k, -1).transpose(2, 1, 0, 3).reshape(  # noqa: E731
            i * j * k, -1).squeeze()
        for array, columns in (("Points", ("x", "y", "z")), ("displacement", ("dx", "dy", "dz"))):
            xyz = np.column_stack([nodes[c] for c in columns]).astype(np.float32)
            np.testing.assert_array_equal(a[array], in_vtk_order(xyz, I, J, K), array)
        np.testing.assert_array_equal(a["VELOCITY"], in_vtk_order(np.column_stack(velocity).astype(np.float32), I, J, K))
        np.testing.assert_array_equal(a["PRESSURE"], in_vtk_order(pressure.astype(np.float32), I - 1, J - 1, K - 1))
        np.testing.assert_array_equal(a["part"], np.full((I - 1) * (J - 1) * (K - 1), number))

    def test_each_unstructured_block_holds_its_part_s_cells_of_the_one_grid(self):
        step = 11
        whole = Vtu(os.path.join(self.single, f"sample_run_{step:04d}.vtu")).arrays
        ends = whole["offsets"]
        starts = np.r_[0, ends[:-1]]
        for (number, kind, _, name), (block_name, file) in zip(self.parts, self.blocks(step)):
            if kind == "structured":
                continue
            with self.subTest(part=name):
                a = Vtu(file).arrays
                rows = np.flatnonzero(whole["part"] == number)
                self.assertEqual(len(a["types"]), len(rows))
                np.testing.assert_array_equal(a["types"], whole["types"][rows])
                np.testing.assert_array_equal(np.diff(np.r_[0, a["offsets"]]), ends[rows] - starts[rows])
                theirs = np.concatenate([whole["connectivity"][starts[r]:ends[r]] for r in rows])
                # The same corners in the same order, through the block's own points.
                for array in ("Points", "displacement", "VELOCITY", "TASK_NUMBER"):
                    np.testing.assert_array_equal(a[array][a["connectivity"]], whole[array][theirs], array)
                self.assertEqual(len(a["Points"]), len(np.unique(theirs)), "only the part's nodes")
                for array in ("PRESSURE", "MATERIAL", "EROSION", "part", "vtkGhostType"):
                    if array in whole:
                        ours = a.get(array, np.zeros(len(rows), whole[array].dtype))  # hidden cells: only where any
                        np.testing.assert_array_equal(ours, whole[array][rows], array)

    def test_the_envelope_is_each_value_s_extreme_over_the_cycles_and_its_time(self):
        env = self.path("envelope")
        run(TO_VTK, "--envelope", "pressure", self.cycle, env)
        run(TO_VTK, "--envelope", "X-VELOCITY", "--min", "--single-vtu", self.cycle, env)
        times = np.array([t for _, _, t in self.cycles])
        pressure = np.array([self.reference("values", self.cycle, str(s), "PRESSURE")["value"]
                             for s, _, _ in self.cycles], np.float32)
        velocity = np.array([self.reference("values", self.cycle, str(s), "X-VELOCITY")["value"]
                             for s, _, _ in self.cycles], np.float32)
        # The first cycle that reached the extreme.
        peak, first = pressure.max(axis=0), pressure.argmax(axis=0)
        low, first_low = velocity.min(axis=0), velocity.argmin(axis=0)
        self.assertGreater(len(set(first)), 3, "the wave peaks at different times")

        root = ET.parse(os.path.join(env, "sample_run_envelope.vtm")).getroot()
        files = [os.path.join(env, d.get("file")) for d in root.iter("DataSet")]
        self.assertEqual(sorted(os.listdir(env)), sorted(["sample_run_envelope.vtm", "sample_run_envelope.vtu"] +
                                                         [os.path.basename(f) for f in files]))
        [(number, _, (I, J, K), _)] = [p for p in self.parts if p[1] == "structured"]
        euler = Vtu(files[0]).arrays
        n = (I - 1) * (J - 1) * (K - 1)
        to_vtk_order = lambda v: v[:n].reshape(I - 1, J - 1, K - 1).transpose(2, 1, 0).ravel()
        np.testing.assert_array_equal(euler["PRESSURE_max"], to_vtk_order(peak))
        np.testing.assert_allclose(euler["PRESSURE_max_time"], to_vtk_order(times[first]), rtol=1e-6)
        single = Vtu(os.path.join(env, "sample_run_envelope.vtu")).arrays
        np.testing.assert_array_equal(single["X-VELOCITY_min"], low)
        np.testing.assert_allclose(single["X-VELOCITY_min_time"], times[first_low], rtol=1e-6)
        self.assertEqual(Vtu(os.path.join(env, "sample_run_envelope.vtu")).point_arrays(),
                         ["X-VELOCITY_min", "X-VELOCITY_min_time"])
        # An integer variable stays one: the cycle an element was first eroded.
        run(TO_VTK, "--envelope", "EROSION", "--single-vtu", self.cycle, self.path("eroded"))
        eroded = np.array([self.reference("values", self.cycle, str(s), "EROSION")["value"]
                           for s, _, _ in self.cycles], np.int32)
        arrays = Vtu(os.path.join(self.path("eroded"), "sample_run_envelope.vtu")).arrays
        self.assertEqual(arrays["EROSION_max"].dtype, np.int32)
        np.testing.assert_array_equal(arrays["EROSION_max"], eroded.max(axis=0))
        np.testing.assert_allclose(arrays["EROSION_max_time"], times[eroded.argmax(axis=0)], rtol=1e-6)
        self.assertGreater(eroded.argmax(axis=0).max(), 0, "an element is eroded after the first cycle")

    def test_threads_write_the_same_bytes(self):
        self.assertEqual(len(os.listdir(self.out)), 1 + len(self.cycles) * (1 + len(self.parts)))
        for options, reference in (([], self.out), (["--single-vtu"], self.single)):
            names = sorted(os.listdir(reference))
            for threads in ("1", "3"):
                other = self.path(f"t{threads}{len(options)}")
                run(TO_VTK, *options, "--threads", threads, self.cycle, other)
                self.assertEqual(names, sorted(os.listdir(other)))
                _, mismatch, errors = filecmp.cmpfiles(reference, other, names, shallow=False)
                self.assertEqual((mismatch, errors), ([], []), (options, threads))

    def test_eroded_cells_are_hidden_unless_shown(self):
        shown = self.path("shown")
        run(TO_VTK, "--show-eroded", "--steps", "11", self.cycle, shown)
        step = 11
        [(number, _, _, name)] = [p for p in self.parts if p[3] == "TET_BLOCK"]
        erosion = self.reference("values", self.cycle, str(step), "EROSION")["value"]
        tets = dict(self.blocks(step))[name]
        a = Vtu(tets).arrays
        self.assertTrue((a["EROSION"] != 0).any(), "the sample erodes its tetrahedra by the last cycle")
        np.testing.assert_array_equal(a["vtkGhostType"], np.where(a["EROSION"] != 0, 32, 0).astype(np.uint8))
        self.assertEqual(np.count_nonzero(a["vtkGhostType"]), np.count_nonzero(erosion))
        for _, file in self.blocks(step, shown):
            self.assertNotIn("vtkGhostType", Vtu(file).arrays, file)
        # Before the tetrahedra erode nothing is hidden.
        for _, file in self.blocks(0):
            self.assertNotIn("vtkGhostType", Vtu(file).arrays, file)


if __name__ == "__main__":
    unittest.main()
