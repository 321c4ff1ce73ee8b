"""qvres-inspect and qvres-to-vtk as a person runs them: on the sample, and on
damaged, locked or incomplete analyses, where each must say in one line what
is wrong and exit non-zero without crashing."""
import glob
import os
import re
import unittest
import xml.etree.ElementTree as ET

from tooltest import INSPECT, TO_VTK, SampleTest, read_csv, run

KINDS = ["beam", "tetrahedron", "hexahedron", "pyramid", "wedge", "triangular shell", "quadrilateral shell"]


def cycle_table(summary):
    """(step, cycle, time) rows of the summary's cycle table."""
    rows = re.findall(r"^\s+(\d+)\s+(\d+)\s+([0-9.e+-]+)$", summary.split("\ncycles")[1], re.M)
    return [(int(s), int(c), float(t)) for s, c, t in rows]


class Summary(SampleTest):
    def test_describes_parts_units_kinds_materials_and_cycles(self):
        _, out, _ = run(INSPECT, "summary", self.cycle)
        self.assertIn("parts          8 (1 structured, 7 unstructured)", out)
        self.assertRegex(out, r"\n\s+1\s+structured\s+21 x 7 x 6\s+600\s+882\s+EULER_BLOCK\n")
        self.assertIn("963 nodes (882 structured, 81 unstructured), 635 elements (600 structured, 35 unstructured)", out)
        self.assertIn("length x 0.001 m, mass x 1 kg, time x 0.001 s", out)
        self.assertIn("file version 150", out)
        kinds = re.search(r"element kinds  (.*)", out).group(1).split(", ")
        self.assertEqual(sorted(kinds), sorted(KINDS))
        self.assertRegex(out, r"TNT\s+Euler id 2")
        self.assertRegex(out, r"STEEL\s+no Euler material fraction")
        # Every cycle file, in time order: file names sort differently.
        table = cycle_table(out)
        names = sorted(glob.glob(os.path.join(self.sample, "sample_run_*.qvres")))
        by_name = [int(re.search(r"_(\d+)\.qvres$", n).group(1)) for n in names]
        self.assertEqual(sorted(c for _, c, _ in table), sorted(by_name))
        self.assertNotEqual([c for _, c, _ in table], by_name)
        times = [t for _, _, t in table]
        self.assertEqual(times, sorted(times))
        self.assertAlmostEqual(times[-1], 8.951074e-05, delta=1e-10)

    def test_every_name_of_the_run_gives_the_same_model(self):
        _, reference, _ = run(INSPECT, "summary", self.cycle)
        for name in (self.base, os.path.join(self.sample, "sample_run_base.qvres"), self.sample,
                     os.path.join(self.sample, "sample_run_1829.qvres")):
            _, out, _ = run(INSPECT, "summary", name)
            self.assertEqual(out, reference, name)


class Values(SampleTest):
    def stats(self, out):
        return {k: float(v) for k, v in re.findall(r"^(min|max|mean)\s+(\S+)$", out, re.M)}

    def test_csv_has_every_element_and_agrees_with_the_statistics(self):
        _, out, _ = run(INSPECT, "values", self.cycle, "5", "PRESSURE", "--csv", self.path("p.csv"))
        self.assertIn("PRESSURE (element real, variable 64, part 1), step 5 (cycle 719", out)
        self.assertIn("count  635 elements", out)
        header, rows = read_csv(self.path("p.csv"))
        self.assertEqual(header, ["element", "value"])
        self.assertEqual([int(r[0]) for r in rows], list(range(1, 636)))  # no header pair
        values = [float(r[1]) for r in rows]
        s = self.stats(out)
        self.assertAlmostEqual(s["min"], min(values), delta=abs(min(values)) * 1e-5)
        self.assertAlmostEqual(s["max"], max(values), delta=abs(max(values)) * 1e-5)
        self.assertAlmostEqual(s["mean"], sum(values) / len(values), delta=abs(s["mean"]) * 1e-5)
        self.assertAlmostEqual(min(values), 1.0e5, delta=1.0)  # ambient pressure in Pa

    def test_name_and_index_select_the_same_array(self):
        run(INSPECT, "values", self.base, "3", "64", "--csv", self.path("a.csv"))
        run(INSPECT, "values", self.base, "3", "pressure", "--csv", self.path("b.csv"))
        with open(self.path("a.csv")) as a, open(self.path("b.csv")) as b:
            self.assertEqual(a.read(), b.read())

    def test_integer_node_and_element_variables(self):
        _, out, _ = run(INSPECT, "values", self.cycle, "0", "TASK NUMBER", "--csv", self.path("t.csv"))
        self.assertIn("node integer", out)
        self.assertIn("count  963 nodes", out)
        _, rows = read_csv(self.path("t.csv"))
        self.assertEqual({r[1] for r in rows}, {"1", "2"})
        # Index 10 is no node array here: the material number is found.
        run(INSPECT, "values", self.cycle, "0", "10", "--csv", self.path("m.csv"))
        _, rows = read_csv(self.path("m.csv"))
        self.assertEqual({r[1] for r in rows}, {"1", "2", "3"})

    def test_multi_material_variable_has_a_column_per_euler_material(self):
        run(INSPECT, "values", self.cycle, "2", "TEMP", "--csv", self.path("t.csv"))
        header, rows = read_csv(self.path("t.csv"))
        self.assertEqual(header, ["element", "value", "WATER", "TNT"])
        self.assertEqual(len(rows), 635)
        self.assertTrue(all(r[2] != "" for r in rows[:600]))
        self.assertEqual(rows[-1][2:], ["", ""])  # unstructured elements have none

    def test_history_agrees_with_values_and_plots(self):
        _, out, _ = run(INSPECT, "history", self.base, "PRESSURE", "--element", "283",
                        "--csv", self.path("h.csv"), "--svg", self.path("h.svg"))
        header, rows = read_csv(self.path("h.csv"))
        self.assertEqual(header, ["step", "cycle", "time_s", "value"])
        self.assertEqual(len(rows), 12)
        for step in (0, 4, 11):
            run(INSPECT, "values", self.base, str(step), "PRESSURE", "--csv", self.path("v.csv"))
            _, v = read_csv(self.path("v.csv"))
            self.assertEqual(float(rows[step][3]), float(v[282][1]))
        peak = max(range(12), key=lambda k: float(rows[k][3]))
        self.assertTrue(0 < peak < 11, "the wave passes element 283 during the run")
        svg = ET.parse(self.path("h.svg")).getroot()
        self.assertTrue(svg.tag.endswith("svg"))
        ns = {"s": "http://www.w3.org/2000/svg"}
        self.assertEqual(len(svg.find(".//s:polyline", ns).get("points").split()), 12)
        texts = [t.text for t in svg.iterfind(".//s:text", ns)]
        self.assertIn("PRESSURE at element 283 (part 1)", texts)
        self.assertIn("time (s)", texts)
        self.assertGreaterEqual(len(texts), 8)  # title, labels and tick labels

    def test_node_history(self):
        _, out, _ = run(INSPECT, "history", self.cycle, "X-VELOCITY", "--node", "500")
        self.assertIn("# X-VELOCITY (node real, variable 4, part 1) at node 500", out)
        self.assertEqual(len(re.findall(r"^\s+\d+\s+\d+\s+\S+\s+\S+$", out, re.M)), 12)


class DamagedInput(SampleTest):
    def expect_error(self, tool, args, contains, code=1):
        rc, out, err = run(tool, *args, check=False)
        self.assertEqual(rc, code, f"{args}: {out} {err}")
        lines = err.strip().splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith(os.path.basename(tool) + ": "), lines[0])
        self.assertIn(contains, lines[0])
        return lines[0]

    def both(self, args_inspect, args_vtk, contains):
        self.expect_error(INSPECT, args_inspect, contains)
        self.expect_error(TO_VTK, args_vtk, contains)

    def cycle_file_of_step(self, step):
        names = glob.glob(os.path.join(self.sample, "sample_run_*.qvres"))
        return sorted(names, key=lambda n: int(re.search(r"_(\d+)\.qvres$", n).group(1)))[step]

    def test_missing_file(self):
        missing = os.path.join(self.sample, "sample_run_99.qvres")
        self.both(["summary", missing], [missing, self.path("vtk")],
                  f"no analysis found for {missing}: the file does not exist")

    def test_missing_base_file(self):
        os.remove(self.base)
        self.both(["summary", self.cycle], [self.cycle, self.path("vtk")], "no base file")

    def test_damaged_base_file(self):
        os.truncate(self.base, 100)
        self.both(["summary", self.cycle], [self.cycle, self.path("vtk")], "damaged or truncated")

    def test_locks(self):
        for lock in ("sample_run.lock", "sample_run_0.lock"):
            path = os.path.join(self.sample, lock)
            open(path, "w").close()
            self.both(["summary", self.cycle], [self.cycle, self.path("vtk")],
                      f"the analysis is locked ({path} exists): a solver or another reader is using it")
            os.remove(path)
        run(INSPECT, "summary", self.cycle)

    def test_cycle_file_cut_inside_its_arrays(self):
        victim = self.cycle_file_of_step(5)
        with open(victim, "rb") as f:
            cut = f.read().index(b"<Element>") + 120  # inside the first element array
        os.truncate(victim, cut)
        run(INSPECT, "summary", self.cycle)  # the model is still there
        run(INSPECT, "values", self.cycle, "4", "PRESSURE")
        self.expect_error(INSPECT, ["values", self.cycle, "5", "PRESSURE"], "damaged or truncated")
        self.expect_error(INSPECT, ["history", self.cycle, "64", "--element", "1"], "damaged or truncated")
        self.expect_error(TO_VTK, [self.cycle, self.path("vtk")], "step 5 (cycle 719")
        # Reading alone finds the same damage and writes nothing.
        self.expect_error(TO_VTK, ["--read-only", self.cycle], "step 5 (cycle 719")

    def test_cycle_file_cut_inside_its_header(self):
        victim = self.cycle_file_of_step(3)
        os.truncate(victim, 30)
        self.expect_error(INSPECT, ["summary", victim], f"{victim} is damaged or truncated")
        # The others still form the run, without it.
        _, out, _ = run(INSPECT, "summary", self.cycle)
        self.assertEqual(len(cycle_table(out)), 11)

    def test_steps_variables_nodes_that_do_not_exist(self):
        self.expect_error(INSPECT, ["vars", self.cycle, "12"], "step 12 does not exist (the analysis has 12 steps: 0..11)")
        self.expect_error(INSPECT, ["values", self.cycle, "-1", "64"], "step -1 does not exist")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "999"], "variable 999 is not stored in step 2")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "64", "--part", "3"],
                          "is not stored for part 3 in step 2")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "4", "--element"], "element variable 4 is not stored")
        self.expect_error(INSPECT, ["history", self.cycle, "64", "--element", "636"],
                          "element 636 does not exist (the model has 635 elements: 1..635)")
        self.expect_error(INSPECT, ["history", self.cycle, "NOSUCH", "--node", "1"], "is not stored for part 1 in any step")

    def test_usage_errors(self):
        self.expect_error(INSPECT, ["frobnicate", self.cycle], "unknown command", code=2)
        self.expect_error(INSPECT, ["values", self.cycle, "2"], "usage:", code=2)
        self.expect_error(INSPECT, ["values", self.cycle, "x", "64"], "STEP must be a whole number", code=2)
        self.expect_error(INSPECT, ["history", self.cycle, "64"], "exactly one of --node N and --element E", code=2)
        self.expect_error(TO_VTK, [self.cycle], "usage:", code=2)
        self.expect_error(INSPECT, ["--library", "/nonexistent.so", "summary", self.cycle],
                          "cannot load the results library /nonexistent.so")


if __name__ == "__main__":
    unittest.main()
