"""qvres-inspect and qvres-to-vtk as a person runs them: on the sample, and on
damaged, locked, mixed or incomplete analyses, where each must say in one
line what is wrong, naming the file, and exit non-zero without crashing."""
import glob
import os
import re
import resource
import shutil
import signal
import socket
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

from tooltest import DIFF, INSPECT, SAMPLE, TO_VTK, WRITE_MIXED, SampleTest, ToolTest, cycle_table, read_csv, run

KINDS = ["beam", "tetrahedron", "hexahedron", "pyramid", "wedge", "triangular shell", "quadrilateral shell"]


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

    def test_every_name_of_the_run_gives_the_same_model_and_other_runs_are_not_merged(self):
        _, reference, _ = run(INSPECT, "summary", self.cycle)
        for name in (self.base, self.sample, os.path.join(self.sample, "sample_run_1829.qvres")):
            _, out, _ = run(INSPECT, "summary", name)
            self.assertEqual(out, reference, name)
        # A run named with the prefix of this one, and another run, beside it.
        for name in ("sample_other_3.qvres", "sample_run_v2_1.qvres"):
            shutil.copy(os.path.join(self.sample, "sample_run_129.qvres"), os.path.join(self.sample, name))
        _, out, err = run(INSPECT, "summary", self.cycle)
        self.assertEqual((out, err), (reference, ""))


class Values(SampleTest):
    def stats(self, out):
        return {k: float(v) for k, v in re.findall(r"^(min|max|mean)\s+(\S+) Pa$", out, re.M)}

    def test_csv_has_every_element_and_agrees_with_the_statistics(self):
        _, out, _ = run(INSPECT, "values", self.cycle, "5", "PRESSURE", "--csv", self.path("p.csv"))
        self.assertIn("PRESSURE (element real, variable 64, part 1), step 5 (cycle 719", out)
        self.assertIn("count  635 elements", out)
        header, rows = read_csv(self.path("p.csv"))
        self.assertEqual(header, ["element", "value (Pa)"])
        self.assertEqual([int(r[0]) for r in rows], list(range(1, 636)))  # no header pair
        values = [float(r[1]) for r in rows]
        s = self.stats(out)
        self.assertAlmostEqual(s["min"], min(values), delta=abs(min(values)) * 1e-5)
        self.assertAlmostEqual(s["max"], max(values), delta=abs(max(values)) * 1e-5)
        self.assertAlmostEqual(s["mean"], sum(values) / len(values), delta=abs(s["mean"]) * 1e-5)
        self.assertAlmostEqual(min(values), 1.0e5, delta=1.0)  # ambient pressure in Pa
        # The same CSV on standard output, alone.
        _, csv, _ = run(INSPECT, "values", self.cycle, "5", "PRESSURE", "--csv", "-")
        with open(self.path("p.csv")) as f:
            self.assertEqual(csv, f.read())

    def test_units_by_name_and_none_for_integers(self):
        _, out, _ = run(INSPECT, "vars", self.cycle, "3")
        units = dict(re.findall(r"^\s+\w+ \w+\s+-?\d+\s+\d+\s+(\S+)\s+(\S+)$", out, re.M))
        self.assertEqual(units, {"X-VELOCITY": "m/s", "Y-VELOCITY": "m/s", "Z-VELOCITY": "m/s", "PRESSURE": "Pa",
                                 "DENSITY": "kg/m^3", "MATERIAL": "-", "TASK_NUMBER": "-", "TEMP": "K",
                                 "STATUS": "-", "EROSION": "-", "COVER_FRAC_V": "-"})
        _, out, _ = run(INSPECT, "values", self.cycle, "0", "TASK NUMBER", "--csv", self.path("t.csv"))
        self.assertIn("node integer", out)
        self.assertIn("count  963 nodes", out)
        header, rows = read_csv(self.path("t.csv"))
        self.assertEqual(header, ["node", "value"])
        self.assertEqual({r[1] for r in rows}, {"1", "2"})
        # Index 10 is no node array here: the material number is found.
        run(INSPECT, "values", self.cycle, "0", "10", "--csv", self.path("m.csv"))
        _, rows = read_csv(self.path("m.csv"))
        self.assertEqual({r[1] for r in rows}, {"1", "2", "3"})

    def test_histories_of_nodes_elements_and_points_agree_with_values_and_plot(self):
        import csv
        ns = {"s": "http://www.w3.org/2000/svg"}
        values = {}  # step -> values CSV rows, by index and by name in any case
        for step, name in ((0, "64"), (6, "pressure"), (11, "PRESSURE")):
            run(INSPECT, "values", self.base, str(step), name, "--csv", self.path("v.csv"))
            values[step] = [float(r[1]) for r in read_csv(self.path("v.csv"))[1]]
        # One element: a CSV, a plot titled after it, the plot alone on standard output.
        _, out, _ = run(INSPECT, "history", self.base, "PRESSURE", "--element", "283",
                        "--csv", self.path("h.csv"), "--svg", self.path("h.svg"))
        self.assertIn("value (Pa)", out)
        header, rows = read_csv(self.path("h.csv"))
        self.assertEqual(header, ["step", "cycle", "time (s)", "value (Pa)"])
        self.assertEqual([float(rows[s][3]) for s in values], [values[s][282] for s in values])
        peak = max(range(12), key=lambda k: float(rows[k][3]))
        self.assertTrue(0 < peak < 11, "the wave passes element 283 during the run")
        svg = ET.parse(self.path("h.svg")).getroot()
        self.assertEqual(len(svg.find(".//s:polyline", ns).get("points").split()), 12)
        texts = [t.text for t in svg.iterfind(".//s:text", ns)]
        for label in ("PRESSURE at element 283 (part 1)", "time (s)", "PRESSURE (Pa)"):
            self.assertIn(label, texts)
        _, svg_out, _ = run(INSPECT, "history", self.base, "PRESSURE", "--element", "283", "--svg", "-")
        with open(self.path("h.svg")) as f:
            self.assertEqual(svg_out, f.read())
        # Several elements and a point: element 283 of the 20 x 6 x 5 cells of
        # the 21 x 7 x 6 block is the cell between node layers i..i+1,
        # j..j+1, k..k+1; its centre.
        run(INSPECT, "nodes", self.base, "--csv", self.path("n.csv"))
        xyz = {int(r[0]): [float(c) for c in r[1:4]] for r in read_csv(self.path("n.csv"))[1]}
        i, j, k = 282 // 30, 282 // 5 % 6, 282 % 5
        corners = [((a * 7 + b) * 6 + c) + 1 for a in (i, i + 1) for b in (j, j + 1) for c in (k, k + 1)]
        at = ",".join(repr(sum(xyz[n][d] for n in corners) / 8) for d in range(3))
        for threads in ("1", "2"):
            _, out, _ = run(INSPECT, "history", self.base, "PRESSURE", "--element", "283", "--element", "600",
                            "--at", at, "--element", "601", "--threads", threads, "--csv", self.path("h.csv"),
                            "--svg", self.path("h.svg"))
            with open(self.path("h.csv"), newline="") as f:
                table = list(csv.reader(f))
            self.assertEqual(table[0][:4], ["step", "cycle", "time (s)", "PRESSURE at element 283 (Pa)"])
            self.assertTrue(table[0][5].startswith("PRESSURE at ("), table[0])
            self.assertEqual(len(table), 13)
            for step, v in values.items():
                self.assertEqual([float(x) for x in table[step + 1][3:]], [v[e - 1] for e in (283, 600, 283, 601)])
        self.assertIn("# column 3: (", out)
        svg = ET.parse(self.path("h.svg")).getroot()
        self.assertEqual(len(svg.findall(".//s:polyline", ns)), 4)
        texts = [t.text for t in svg.iterfind(".//s:text", ns)]
        for label in ("element 283", "element 600", "element 601"):
            self.assertIn(label, texts)
        # A node, and a point of a node variable: the nearest node.
        _, out, _ = run(INSPECT, "history", self.cycle, "X-VELOCITY", "--node", "500")
        self.assertIn("# X-VELOCITY (node real, variable 4, part 1) at node 500", out)
        self.assertEqual(len(re.findall(r"^\s+\d+\s+\d+\s+\S+\s+\S+$", out, re.M)), 12)
        near = [xyz[500][0] + 1e-4, xyz[500][1], xyz[500][2]]
        run(INSPECT, "history", self.base, "X-VELOCITY", "--node", "1", "--at", ",".join(map(repr, near)),
            "--csv", self.path("n.csv"))
        with open(self.path("n.csv"), newline="") as f:
            table = list(csv.reader(f))
        run(INSPECT, "values", self.base, "3", "X-VELOCITY", "--csv", self.path("v.csv"))
        _, v = read_csv(self.path("v.csv"))
        self.assertEqual([float(x) for x in table[4][3:]], [float(v[0][1]), float(v[499][1])])
        self.expect_error(INSPECT, ["history", self.base, "PRESSURE", "--at", "1,1,1"], "point 0 (1, 1, 1) m lies in no element")
        for point in ("1,1", "0.01,0.01,0.01,5", "0.01,0.01,0.01,junk", "0.01,0.01,0.01,", "0.01,0.01,0.01,,"):
            self.expect_error(INSPECT, ["history", self.base, "PRESSURE", "--at", point], "--at takes a point", code=2)
        self.expect_error(INSPECT, ["history", self.base, "64", "--node", "1", "--element", "1"], "not both", code=2)

    def test_envelope_is_the_extreme_of_the_values_of_every_step(self):
        per_step = []
        for step in range(12):
            run(INSPECT, "values", self.base, str(step), "PRESSURE", "--csv", self.path("v.csv"))
            _, v = read_csv(self.path("v.csv"))
            per_step.append([float(r[1]) for r in v])
        for extreme, pick in (("max", max), ("min", min)):
            args = ["--min"] if extreme == "min" else []
            _, out, _ = run(INSPECT, "envelope", self.base, "PRESSURE", *args, "--threads", "2",
                            "--csv", self.path("e.csv"))
            header, rows = read_csv(self.path("e.csv"))
            self.assertEqual(header, ["element", ("minimum" if extreme == "min" else "maximum") + " (Pa)", "step",
                                      "cycle", "time (s)"])
            self.assertEqual(len(rows), 635)
            for e in (0, 282, 599, 600, 634):
                column = [per_step[k][e] for k in range(12)]
                best = pick(column)
                self.assertEqual(float(rows[e][1]), best, (extreme, e))
                self.assertEqual(int(rows[e][2]), column.index(best), (extreme, e))
            overall = pick(range(635), key=lambda e: pick(per_step[k][e] for k in range(12)))
            self.assertRegex(out, rf"(highest|lowest)\s+\S+ Pa at element {overall + 1}, step")
        # An integer variable: elements eroded in some step hold 1 from the
        # first of them on, the others 0 from step 0.
        eroded = []
        for step in range(12):
            run(INSPECT, "values", self.base, str(step), "EROSION", "--csv", self.path("v.csv"))
            eroded.append([int(r[1]) for r in read_csv(self.path("v.csv"))[1]])
        run(INSPECT, "envelope", self.base, "EROSION", "--csv", self.path("i.csv"))
        _, rows = read_csv(self.path("i.csv"))
        self.assertEqual(len(rows), 635)
        for e, row in enumerate(rows):
            column = [eroded[k][e] for k in range(12)]
            self.assertEqual((row[1], int(row[2])), (str(max(column)), column.index(max(column))), e)
        self.assertTrue(any(int(r[2]) > 0 for r in rows), "some elements are eroded after step 0")


class CommandLine(SampleTest):
    def test_version_on_every_tool_and_help_after_any_command(self):
        for tool in (INSPECT, TO_VTK, SAMPLE):
            _, out, _ = run(tool, "--version")
            self.assertRegex(out, rf"^{os.path.basename(tool)} \d+\.\d+\.\d+\n")
        _, out, _ = run(INSPECT, "--version")
        self.assertRegex(out, r"\nresults library 2\.\d+\.\d+ \(.*libqvres\.so\.2\)\n$")
        for args in (["values", "--help"], ["history", self.cycle, "--help"], ["summary", "-h"]):
            _, out, _ = run(INSPECT, *args)
            self.assertIn("usage: qvres-inspect", out)
        _, out, _ = run(TO_VTK, self.cycle, self.path("vtk"), "--help")
        self.assertIn("--threads N", out)
        self.assertFalse(os.path.exists(self.path("vtk")))

    def test_a_failed_write_to_standard_output_is_an_error(self):
        for args in ([INSPECT, "summary", self.cycle], [INSPECT, "values", self.cycle, "1", "64", "--csv", "-"],
                     [TO_VTK, "--read-only", self.cycle], [INSPECT, "--help"], [SAMPLE, self.path("s")]):
            with open("/dev/full", "w") as full:
                p = subprocess.run(args, stdout=full, stderr=subprocess.PIPE, text=True, timeout=600)
            self.assertEqual(p.returncode, 1, args)
            self.assertIn("cannot write standard output", p.stderr)

    def test_a_file_past_the_size_limit_is_an_error_not_a_kill(self):
        # SIGXFSZ as a shell leaves it: the tools ignore it themselves, so
        # the write fails, is reported and its temporary removed.
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))
        out = self.path("vtk")
        for args, cut in (([TO_VTK, "--threads", "1", "--steps", "0", "--no-compress", self.cycle, out],
                           os.path.join(out, "sample_run_0000_1.vts")),
                          ([INSPECT, "nodes", self.cycle, "--csv", self.path("big.csv")], self.path("big.csv"))):
            p = subprocess.run(args, preexec_fn=small_files, capture_output=True, text=True, timeout=600)
            self.assertEqual(p.returncode, 1, p.stderr)
            self.assertEqual(p.stderr.strip().splitlines()[-1],
                             f"{os.path.basename(args[0])}: cannot write {cut}: File too large")
        self.assertEqual(os.listdir(out), [])
        self.assertEqual(sorted(os.listdir(self.dir)), ["sample", "vtk"])

    def test_thread_counts_beyond_4096_are_refused_by_every_command(self):
        # 2147483647 once reached a product of int in qvres-inspect.
        commands = ([INSPECT, "history", self.cycle, "64", "--element", "1"],
                    [INSPECT, "envelope", self.cycle, "64"],
                    [TO_VTK, "--read-only", self.cycle],
                    [DIFF, self.cycle, self.cycle])
        for args in commands:
            for threads in ("4097", "5000", "2147483647", "4294967297", "0"):
                with self.subTest(args=args[:2], threads=threads):
                    self.expect_error(args[0], args[1:] + ["--threads", threads],
                                      f"--threads takes a count from 1 to 4096, not '{threads}'", code=2)
        # The largest count is taken; the library starts no more threads
        # than there are steps.
        _, out, _ = run(INSPECT, "envelope", self.cycle, "64", "--threads", "4096")
        self.assertIn("over 12 steps", out)


class Rewrites(ToolTest):
    """Outputs written again over those of an earlier run, or cut short by
    a signal, or under names near the length limit."""
    TOOLS = ("QVRES_SAMPLE", "QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_WRITE_MIXED")

    def temporaries(self, directory):
        return [n for n in os.listdir(directory) if n.endswith(".tmp")]

    @staticmethod
    def contents(directory):
        def read(name):
            with open(os.path.join(directory, name), "rb") as f:
                return f.read()
        return {n: read(n) for n in os.listdir(directory)}

    def test_a_failed_export_keeps_every_file_of_the_earlier_one(self):
        old, new, out = self.path("old"), self.path("new"), self.path("vtk")
        run(WRITE_MIXED, old)
        # The same run with node 0 (in the first block) moved: every file of
        # the new export's step 0 differs from the old one's first block on.
        run(WRITE_MIXED, new, "--move-node", "0", "0.5")
        run(TO_VTK, "--no-compress", old, out)
        before = self.contents(out)
        named = [d.get("file") for d in ET.parse(os.path.join(out, "mixed_run_0000.vtm")).iter("DataSet")]
        self.assertEqual(named[:2], ["mixed_run_0000_1.vts", "mixed_run_0000_2.vts"])
        # The first block (1.4 KB) fits under the limit, the second (6 KB)
        # does not.
        self.assertLess(len(before["mixed_run_0000_1.vts"]), 4000)
        self.assertGreater(len(before["mixed_run_0000_2.vts"]), 4000)

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # the size limit alone, as the test above
            resource.setrlimit(resource.RLIMIT_FSIZE, (4000, 4000))
        p = subprocess.run([TO_VTK, "--threads", "1", "--no-compress", new, out], preexec_fn=small_files,
                           capture_output=True, text=True, timeout=600)
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn(f"cannot write {out}/mixed_run_0000_2.vts: File too large", p.stderr)
        after = self.contents(out)
        for n in named:
            self.assertIn(n, after)
        self.assertEqual(sorted(after), sorted(before))
        for n in before:
            self.assertTrue(after[n] == before[n], f"{n} changed")
        # Without the limit the new export replaces them: the first block differs.
        run(TO_VTK, "--no-compress", new, out)
        with open(os.path.join(out, "mixed_run_0000_1.vts"), "rb") as f:
            self.assertNotEqual(f.read(), before["mixed_run_0000_1.vts"])
        self.assertEqual(self.temporaries(out), [])

    def test_an_interrupted_export_leaves_no_temporary(self):
        sample, out = self.path("big"), self.path("vtk")
        run(SAMPLE, "--extents", "50", "50", "50", "--cycles", "3", sample)

        def default_sigint():
            signal.signal(signal.SIGINT, signal.SIG_DFL)
        # Stopped while a temporary stands, interrupted, then let go: the
        # verdict does not depend on timing, only the number of tries does.
        for attempt in range(20):
            shutil.rmtree(out, ignore_errors=True)
            p = subprocess.Popen([TO_VTK, "--threads", "1", "--no-compress", sample, out],
                                 preexec_fn=default_sigint, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            caught = False
            while p.poll() is None and not caught:
                if os.path.isdir(out) and self.temporaries(out):
                    p.send_signal(signal.SIGSTOP)
                    caught = bool(self.temporaries(out))
                    if caught:
                        p.send_signal(signal.SIGINT)
                    p.send_signal(signal.SIGCONT)
            p.wait(timeout=600)
            if caught:
                break
        self.assertTrue(caught, "no export was stopped while writing")
        self.assertEqual(p.returncode, -signal.SIGINT)
        self.assertEqual(self.temporaries(out), [])

    def test_names_up_to_the_length_limit(self):
        sample = self.path("sample")
        run(SAMPLE, sample)
        for length in (240, 250, 255):
            name = self.path("a" * (length - 4) + ".csv")
            run(INSPECT, "nodes", sample, "--csv", name)
            header, rows = read_csv(name)
            self.assertEqual(header[0], "node")
            self.assertEqual(len(rows), 963)
            self.assertEqual(sorted(os.listdir(self.dir)), [os.path.basename(name), "sample"])
            os.remove(name)


def as_user_with_process_limit(limit):
    """For preexec_fn: the child becomes user nobody, allowed `limit`
    processes and threads (that user's own, the child among them), so that
    it can start none or few threads of its own."""
    def apply():
        resource.setrlimit(resource.RLIMIT_NPROC, (limit, limit))
        os.setgroups([])
        os.setgid(NOBODY)
        os.setuid(NOBODY)
    return apply


NOBODY = 65534


class ThreadsThatCannotStart(SampleTest):
    """A user at the limit of their processes gets no more threads: the
    tools do the work on the threads they got, the calling one at least,
    and write what they write with all of them."""
    TOOLS = ("QVRES_SAMPLE", "QVRES_TO_VTK", "QVRES_DIFF")

    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("running a tool as another user under a process limit needs root")
        super().setUp()
        # A block of 24000 nodes: its coordinates fill two compressed blocks,
        # which the export compresses on threads of their own too.
        self.sample = self.path("big")
        run(SAMPLE, "--extents", "40", "30", "20", "--cycles", "3", self.sample)
        self.cycle = os.path.join(self.sample, "sample_run_0.qvres")
        os.chmod(self.dir, 0o755)
        self.out = self.path("out")
        os.mkdir(self.out)
        os.chown(self.out, NOBODY, NOBODY)
        # The test means something only where the limit holds.
        probe = subprocess.run([sys.executable, "-c", "import threading; threading.Thread(target=int).start()"],
                               preexec_fn=as_user_with_process_limit(1), capture_output=True, text=True, timeout=60)
        if probe.returncode == 0:
            self.skipTest("a process limit does not keep threads from starting here")

    def run_limited(self, limit, *args):
        # A sanitizer's leak check at exit needs a thread of its own, which
        # the limit refuses: it is left out here (other tests run it).
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        p = subprocess.run([str(a) for a in args], preexec_fn=as_user_with_process_limit(limit),
                           capture_output=True, text=True, timeout=600, env=env)
        return p.returncode, p.stdout, p.stderr

    def files_of(self, directory):
        found = {}
        for name in sorted(os.listdir(directory)):
            with open(os.path.join(directory, name), "rb") as f:
                found[name] = f.read()
        return found

    def test_export_and_comparison_complete_on_the_threads_they_get(self):
        reference = self.path("reference")
        run(TO_VTK, "--threads", "1", self.cycle, reference)
        _, compared, _ = run(DIFF, "--threads", "1", self.cycle, self.cycle)
        self.assertIn("result  same within tolerance", compared)
        # 1: no thread starts; 3: two do, of the eight asked for.
        for limit in (1, 3):
            with self.subTest(limit=limit):
                out = os.path.join(self.out, str(limit))
                rc, stdout, err = self.run_limited(limit, TO_VTK, "--threads", "8", self.cycle, out)
                self.assertEqual(rc, 0, err)
                self.assertIn(f"wrote {out}/sample_run.pvd and 3 files", stdout)
                self.assertEqual(self.files_of(out), self.files_of(reference))
                rc, stdout, err = self.run_limited(limit, DIFF, "--threads", "8", self.cycle, self.cycle)
                self.assertEqual((rc, stdout, err), (0, compared, ""))


class DamagedInput(SampleTest):
    def cycle_file_of_step(self, step):
        names = glob.glob(os.path.join(self.sample, "sample_run_*.qvres"))
        return sorted(names, key=lambda n: int(re.search(r"_(\d+)\.qvres$", n).group(1)))[step]

    def test_missing_damaged_or_locked_analysis(self):
        missing = os.path.join(self.sample, "sample_run_99.qvres")
        for tool, args in ((INSPECT, ["summary", missing]), (TO_VTK, [missing, self.path("vtk")])):
            self.expect_error(tool, args, f"no analysis found for {missing}: the file does not exist")
        for lock in ("sample_run.lock", "sample_run_0.lock"):
            path = os.path.join(self.sample, lock)
            open(path, "w").close()
            for tool, args in ((INSPECT, ["summary", self.cycle]), (TO_VTK, [self.cycle, self.path("vtk")])):
                self.expect_error(tool, args, f"locked by {path}")
            os.remove(path)
        run(INSPECT, "summary", self.cycle)
        os.truncate(self.base, 100)
        for tool, args in ((INSPECT, ["summary", self.cycle]), (TO_VTK, [self.cycle, self.path("vtk")])):
            self.expect_error(tool, args, self.base)
        os.remove(self.base)
        self.expect_error(INSPECT, ["summary", self.cycle], "no base file")

    def test_cycle_file_cut_to_80_to_90_percent(self):
        victim = self.cycle_file_of_step(5)
        size = os.path.getsize(victim)
        for percent in (80, 85, 90):
            with self.subTest(percent=percent):
                shutil.rmtree(self.sample)
                run(SAMPLE, self.sample)
                os.truncate(victim, size * percent // 100)
                # An error naming the file: no zeros, no silent gap.
                self.expect_error(TO_VTK, [self.cycle, self.path("vtk")], "step 5 (cycle 719")
                lines = self.expect_error(TO_VTK, ["--read-only", self.cycle], victim)
                self.assertIn("damaged or truncated", lines[-1])
                # Passed over with a warning on request; the others are exported.
                shutil.rmtree(self.path("vtk"), ignore_errors=True)
                _, out, err = run(TO_VTK, "--keep-going", self.cycle, self.path("vtk"))
                self.assertIn("wrote", out)
                self.assertRegex(err, rf"^qvres-to-vtk: warning: step 5 \(cycle 719.*{re.escape(victim)}.*passed over\n$")
                files = ET.parse(self.path("vtk/sample_run.pvd")).getroot().findall("./Collection/DataSet")
                self.assertEqual([d.get("file") for d in files],
                                 [f"sample_run_{s:04d}.vtm" for s in range(12) if s != 5])
                # A check keeps going and still fails.
                self.expect_error(TO_VTK, ["--read-only", "--keep-going", self.cycle], "1 cycle file could not be read")

    def test_history_through_a_cycle_file_cut_inside_its_arrays(self):
        victim = self.cycle_file_of_step(5)
        with open(victim, "rb") as f:
            os.truncate(victim, f.read().index(b"<Element>") + 120)  # inside the first element array
        run(INSPECT, "values", self.cycle, "4", "PRESSURE")
        self.expect_error(INSPECT, ["values", self.cycle, "5", "PRESSURE"], victim)
        self.expect_error(INSPECT, ["history", self.cycle, "64", "--element", "1"], victim)
        _, out, err = run(INSPECT, "history", self.cycle, "64", "--element", "1", "--keep-going")
        self.assertRegex(out, r"\n\s+5\s+719\s+\S+\s+-\n")
        self.assertEqual(len(re.findall(r"^\s+\d+\s+\d+\s+\S+\s+\d\S*$", out, re.M)), 11)
        self.assertRegex(err, rf"^qvres-inspect: warning: step 5 .*{re.escape(victim)}.*left out\n$")

    def test_cycle_files_that_cannot_be_registered_are_named(self):
        header_cut, repeated = self.cycle_file_of_step(3), os.path.join(self.sample, "sample_run_0129.qvres")
        os.truncate(header_cut, 81)
        shutil.copy(self.cycle_file_of_step(1), repeated)
        _, out, err = run(INSPECT, "summary", self.cycle)
        self.assertEqual(len(cycle_table(out)), 11)  # no second "cycle 0", no repeated cycle
        self.assertIn("(2 cycle files not read: see the warnings)", out)
        warnings = err.splitlines()
        self.assertEqual(len(warnings), 2, err)
        self.assertTrue(any(header_cut in w for w in warnings), err)
        self.assertTrue(any("cycle 129 is also in" in w for w in warnings), err)
        self.expect_error(TO_VTK, ["--read-only", self.cycle], "2 cycle files could not be read")
        # A link out of the run's directory is no file of the run: named, not
        # counted as unread.
        os.remove(header_cut)
        os.remove(repeated)
        elsewhere = self.path("elsewhere")
        os.mkdir(elsewhere)
        shutil.copy(self.cycle_file_of_step(1), os.path.join(elsewhere, "x.qvres"))
        os.symlink(os.path.join(elsewhere, "x.qvres"), os.path.join(self.sample, "sample_run_5000.qvres"))
        _, _, err = run(TO_VTK, "--read-only", self.cycle)
        self.assertIn("a link out of the run's directory", err)
        # Naming a file that could not be registered is an error that says why.
        self.expect_error(INSPECT, ["summary", header_cut], header_cut)

    def test_steps_variables_parts_nodes_that_do_not_exist(self):
        self.expect_error(INSPECT, ["vars", self.cycle, "12"], "step 12 does not exist (the analysis has 12 steps: 0..11)")
        self.expect_error(INSPECT, ["values", self.cycle, "-1", "64"], "step -1 does not exist")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "999"], "variable 999 is not stored in step 2")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "64", "--part", "3"],
                          "is not stored for part 3 in step 2")
        for args in (["values", self.cycle, "2", "64", "--part", "9"], ["history", self.cycle, "64", "--part", "0",
                                                                         "--element", "1"]):
            self.expect_error(INSPECT, args, "does not exist (the model has 8 parts: 1..8)")
        self.expect_error(INSPECT, ["values", self.cycle, "2", "4", "--element"], "element variable 4 is not stored")
        self.expect_error(INSPECT, ["history", self.cycle, "64", "--element", "636"],
                          "element 636 does not exist (the model has 635 elements: 1..635)")
        self.expect_error(INSPECT, ["history", self.cycle, "NOSUCH", "--node", "1"], "is not stored for part 1 in any step")
        self.expect_error(TO_VTK, ["--steps", "3,12", self.cycle, self.path("vtk")], "step 12 does not exist")
        self.expect_error(TO_VTK, ["--vars", "PRESSURE,NOSUCH", self.cycle, self.path("vtk")], "NOSUCH names no array")

    def test_usage_errors(self):
        self.expect_error(INSPECT, ["frobnicate", self.cycle], "unknown command", code=2)
        self.expect_error(INSPECT, ["values", self.cycle, "2"], "usage:", code=2)
        self.expect_error(INSPECT, ["values", self.cycle, "x", "64"], "STEP must be a whole number", code=2)
        self.expect_error(INSPECT, ["history", self.cycle, "64"], "one or more of --node N, --element E and --at X,Y,Z",
                          code=2)
        self.expect_error(INSPECT, ["history", self.cycle, "64", "--element", "1", "--csv", "-", "--svg", "-"],
                          "cannot both", code=2)
        self.expect_error(TO_VTK, [self.cycle], "usage:", code=2)
        self.expect_error(TO_VTK, ["--threads", "0", self.cycle, self.path("vtk")], "--threads", code=2)
        self.expect_error(TO_VTK, ["--steps", "5-3", self.cycle, self.path("vtk")], "runs backwards", code=2)
        self.expect_error(TO_VTK, ["--min", self.cycle, self.path("vtk")], "--min goes with --envelope", code=2)
        self.expect_error(TO_VTK, ["--envelope", "64", "--steps", "1", self.cycle, self.path("vtk")], "--envelope",
                          code=2)
        self.expect_error(TO_VTK, ["--envelope", "NOSUCH", self.cycle, self.path("env")],
                          "--envelope: NOSUCH names no node or element variable")
        self.assertFalse(os.path.exists(self.path("env")))
        self.expect_error(INSPECT, ["--library", "/nonexistent.so", "summary", self.cycle],
                          "cannot load the results library /nonexistent.so")

    def test_stale_reader_lock_is_cleared_only_when_asked(self):
        # The record a reader killed during its open left: its process is gone.
        child = subprocess.Popen(["true"])
        child.wait()
        host = socket.gethostname()
        lock = os.path.join(self.sample, "sample_run.lock")
        with open(lock, "w") as f:
            f.write(f"results_api reader lock\nhost {host}\nprocess {child.pid}\ntime 1700000000\n")
        # Every front end names it and leaves it unless asked: the hostile
        # corpus (case stale_lock).
        self.expect_error(INSPECT, ["summary", self.cycle], f"left by process {child.pid} on host {host}, which no")
        run(INSPECT, "--clear-stale-lock", "summary", self.cycle)
        self.assertFalse(os.path.exists(lock))
        # A solver's lock stays whatever the tools are told.
        for tool, args in ((INSPECT, ["summary", "--clear-stale-lock", self.cycle]),
                           (TO_VTK, ["--clear-stale-lock", "--read-only", self.cycle]),
                           (DIFF, ["--clear-stale-lock", self.cycle, self.cycle])):
            with open(lock, "w") as f:
                f.write("solver writing\n")
            self.expect_error(tool, args, f"locked by {lock}", code=2 if tool == DIFF else 1)
            with open(lock) as f:
                self.assertEqual(f.read(), "solver writing\n")
        os.remove(lock)
        run(TO_VTK, "--clear-stale-lock", "--read-only", self.cycle)


if __name__ == "__main__":
    unittest.main()
