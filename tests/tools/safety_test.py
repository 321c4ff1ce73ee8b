"""The tools as an attack surface: output files are never written through a
link planted in the output directory, nor into a file made beforehand;
counts a small file claims cost no memory; names from a results file reach
neither the terminal nor a spreadsheet as commands; a tolerance file of
unknown names gives one warning; an installed tool never loads a library
from the build tree it was built in."""
import csv
import os
import re
import resource
import shutil
import stat
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from tooltest import (BUILD_DIR, DIFF, INSPECT, SAMPLE, TO_VTK, SampleTest, ToolTest, run)
from vtu import Vtu

MAKE_CASE = os.environ.get("QVRES_MAKE_CASE", "")
MB = 1 << 20


def put(path, text):
    with open(path, "w") as f:
        f.write(text)


def read(path):
    with open(path, errors="surrogateescape") as f:
        return f.read()


class PlantedLinks(SampleTest):
    """Another user of a shared output directory plants links and files at
    the names a run writes; whatever they point to stays as it was, and the
    outputs are new regular files of ours."""

    def setUp(self):
        super().setUp()
        self.victims = {}

    def victim(self, name):
        path = self.path(name)
        put(path, f"{name} must stay\n")
        self.victims[path] = f"{name} must stay\n"
        return path

    def assert_victims_untouched(self):
        for path, text in self.victims.items():
            self.assertEqual(read(path), text, path)

    def assert_own_regular_file(self, path, starts):
        st = os.lstat(path)
        self.assertTrue(stat.S_ISREG(st.st_mode), f"{path} is not a regular file")
        self.assertEqual(st.st_uid, os.geteuid())
        self.assertTrue(read(path).startswith(starts), path)

    def test_csv_and_svg_of_inspect_and_diff(self):
        cases = [
            ([INSPECT, "values", self.cycle, "1", "64", "--csv"], "element,"),
            ([INSPECT, "nodes", self.cycle, "--csv"], "node,"),
            ([INSPECT, "history", self.cycle, "64", "--element", "1", "--csv"], "step,"),
            ([INSPECT, "history", self.cycle, "64", "--element", "1", "--svg"], "<?xml"),
            ([DIFF, self.cycle, self.cycle, "--csv"], "step_a,"),
        ]
        for n, (args, starts) in enumerate(cases):
            with self.subTest(args=args[:2]):
                out = self.path(f"out{n}")
                os.symlink(self.victim(f"victim{n}"), out)
                rc, _, err = run(*args, out, check=False)
                self.assertEqual(rc, 0, err)
                self.assert_victims_untouched()
                self.assert_own_regular_file(out, starts)
                self.assertEqual(sorted(f for f in os.listdir(self.dir) if f.startswith(".")), [])

    def test_sample_files(self):
        target = self.path("again")
        os.mkdir(target)
        os.symlink(self.victim("base"), os.path.join(target, "sample_run.qvres_base"))
        run(SAMPLE, "--cycles", "2", target)
        self.assert_victims_untouched()
        st = os.lstat(os.path.join(target, "sample_run.qvres_base"))
        self.assertTrue(stat.S_ISREG(st.st_mode))
        self.assertEqual(st.st_uid, os.geteuid())


def limited_address_space(limit):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return apply


def run_measured(args, preexec=None):
    """Runs a program; returns (exit code or -signal, stdout, stderr, peak
    resident memory in bytes)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen([str(a) for a in args], stdout=out, stderr=err, preexec_fn=preexec)
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return (p.returncode, out.read().decode(errors="replace"), err.read().decode(errors="replace"),
                usage.ru_maxrss * 1024)


class CountsNoFileCanFill(ToolTest):
    """A file of about 100 KB whose block of 200 x 200 x 200 nodes and 100
    materials make a multi-material variable claim 101 values for each of
    7.9 million elements: about 796 million values, 3.2 GB. The library
    finds the array short of that; the tools must not have sized anything
    for it first."""
    TOOLS = ("QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_MAKE_CASE")

    def setUp(self):
        super().setUp()
        self.analysis = self.path("huge")
        run(MAKE_CASE, "huge_claim", self.analysis)
        self.cycle = os.path.join(self.analysis, "hostile_run_1.qvres")
        self.input_size = sum(os.path.getsize(os.path.join(self.analysis, f)) for f in os.listdir(self.analysis))
        self.assertLess(self.input_size, 200 * 1024)
        self.commands = [[INSPECT, "values", self.cycle, "0", "86"],
                         [INSPECT, "values", self.cycle, "0", "86", "--csv", self.path("v.csv")],
                         [INSPECT, "history", self.cycle, "86", "--element", "1"],
                         [TO_VTK, "--read-only", self.cycle]]

    def test_peak_memory_stays_small_and_a_limit_gives_a_clean_error(self):
        # Sanitized tools reserve terabytes for their shadow memory first:
        # only the peak is measured there.
        limit = None if os.environ.get("QVRES_SANITIZED") else limited_address_space(1 << 30)
        budget = 64 * MB + 16 * self.input_size
        for args in self.commands:
            with self.subTest(args=args[:3]):
                rc, out, err, peak = run_measured(args, limit)
                self.assertEqual(rc, 1, err)
                self.assertIn(self.analysis, err)
                self.assertLess(peak, budget, f"{peak / MB:.0f} MB at peak: {err}")
                self.assertNotIn("bad_alloc", err)
                self.assertEqual(len(err.strip().splitlines()), 1, err)


# The names tests/hostile/make_case gives the mixed model.
TITLE_MATERIAL = "\x1b]0;TITLE\x07WATER"
FORMULA = '=HYPERLINK("http://x.y","z")'
CALC = "+CMD|' /C calc'!A0"
CLEAR_VARIABLE = "PRES\x1b[2JSURE"


def shown(text):
    """A name as a terminal must see it: each control character as \\xNN."""
    return "".join(f"\\x{ord(c):02x}" if ord(c) < 0x20 and c not in "\t\n" or ord(c) == 0x7f else c
                   for c in text)


class HostileNames(ToolTest):
    TOOLS = ("QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_DIFF", "QVRES_MAKE_CASE")

    def setUp(self):
        super().setUp()
        self.analysis = self.path("names")
        run(MAKE_CASE, "names", self.analysis)
        self.cycle = os.path.join(self.analysis, "hostile_run_1.qvres")

    def assert_no_controls(self, text, where):
        for c in ("\x1b", "\x07", "\x9b"):
            self.assertNotIn(c, text, where)

    def test_terminal_output_shows_control_characters(self):
        # summary, vars, values and qvres-to-vtk on these names: the hostile
        # corpus (tests/hostile, case "names"); the form: TerminalText.
        rc, out, err = run(INSPECT, "history", self.cycle, "64", "--element", "1")
        self.assert_no_controls(out + err, "history")
        self.assertIn(shown(CLEAR_VARIABLE), out)
        # A comparison names the arrays that differ.
        other = self.path("other")
        run(MAKE_CASE, "names_shifted", other)
        rc, out, err = run(DIFF, self.cycle, os.path.join(other, "hostile_run_1.qvres"), check=False)
        self.assertEqual(rc, 1, err)
        self.assert_no_controls(out + err, "diff")
        self.assertIn(shown(CLEAR_VARIABLE) + ":", out)

    def test_errors_quoting_names_show_control_characters(self):
        # An analysis directory named with an escape sequence: every error
        # names it.
        odd = self.path("run\x1b[31m")
        shutil.copytree(self.analysis, odd)
        os.remove(os.path.join(odd, "hostile_run_1.qvres"))
        for args in ([INSPECT, "summary", os.path.join(odd, "hostile_run_1.qvres")],
                     [TO_VTK, "--read-only", os.path.join(odd, "hostile_run_1.qvres")],
                     [DIFF, os.path.join(odd, "hostile_run_1.qvres"), self.cycle]):
            with self.subTest(args=args[:2]):
                rc, out, err = run(*args, check=False)
                self.assertNotEqual(rc, 0)
                self.assert_no_controls(out + err, args)
                self.assertIn(shown("run\x1b[31m"), err)

    def test_csv_text_fields_are_no_formulas_and_numbers_stay_numbers(self):
        # Material names head the per-material columns of TEMP (86).
        out = self.path("temp.csv")
        run(INSPECT, "values", self.cycle, "0", "86", "--csv", out)
        with open(out, newline="") as f:
            rows = list(csv.reader(f))
        header = rows[0]
        self.assert_no_controls(",".join(header), "header")
        self.assertTrue(any(h.startswith("'" + CALC) for h in header), header)
        self.assertTrue(any(h.startswith(shown(TITLE_MATERIAL)) for h in header), header)
        # Negative numbers written by the tool: the displacements of node n
        # are (1, n, -n) in cycle 1.
        out = self.path("nodes.csv")
        run(INSPECT, "nodes", self.cycle, "0", "--csv", out)
        with open(out, newline="") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[3][6], "-2")
        self.assertEqual(float(rows[3][6]), -2.0)
        # Array names in the comparison's CSV.
        out = self.path("diff.csv")
        run(DIFF, self.cycle, self.cycle, "--csv", out)
        with open(out, "rb") as f:
            self.assertNotIn(b"\x9b", f.read())  # the raw C1 CSI in TEMP's name: shown, not written
        with open(out, newline="", errors="surrogateescape") as f:
            names = [row["array"] for row in csv.DictReader(f)]
        self.assertIn(shown(CLEAR_VARIABLE), names)
        # The library shows dots in variable names as '_'.
        self.assertIn("'" + FORMULA.replace(".", "_"), names)
        for name in names:
            self.assertFalse(name[:1] in ("=", "+", "-", "@"), name)
            self.assert_no_controls(name, "diff csv")


class LineEndsInNames(ToolTest):
    """Names holding line feeds, tabs and carriage returns (tests/hostile,
    case control_names) cannot forge lines or columns of a report: each is
    shown as \\xNN like any control character, and a name reaches the XML
    of an export or a plot without DEL or a C1 control."""
    TOOLS = ("QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_DIFF", "QVRES_MAKE_CASE")

    def setUp(self):
        super().setUp()
        self.analysis = self.path("names")
        run(MAKE_CASE, "control_names", self.analysis)
        self.cycle = os.path.join(self.analysis, "hostile_run_1.qvres")

    def assert_plain(self, text, where):
        for c in ("\r", "\t", "\x1b", "\x7f", "\x9b"):
            self.assertNotIn(c, text, where)

    def test_summary_and_vars(self):
        _, out, _ = run(INSPECT, "summary", self.cycle)
        self.assert_plain(out, "summary")
        rows = re.findall(r"^ +(\d) +(?:un)?structured .*  (\S+)$", out, re.M)
        self.assertEqual(rows, [("1", "PL\\x7f\\xc2\\x9b\\x9bANE"), ("2", "CU\\x09BE"), ("3", "S\\x0aAB"),
                                ("4", "SH\\x0dEET"), ("5", "BRICKS"), ("6", "SKIN")])
        self.assertRegex(out, r"\n +1  WA\\x0aTER +Euler id 1, body BODY\\x09-W\n")
        # The sections and nothing else (3 lines, a blank, the parts' 2 + 6
        # and 2, a blank, the materials' 1 + 3, a blank, the cycles' 2 + 2):
        # no line begins with the rest of a name.
        self.assertEqual(len(out.splitlines()), 24, out)
        self.assertNotRegex(out, r"(?m)^(AB|TER|-W)")

        _, out, _ = run(INSPECT, "vars", self.cycle, "0")
        self.assert_plain(out, "vars")
        lines = out.splitlines()
        self.assertEqual(len(lines), 2 + 15, out)  # "15 result arrays" and the heading
        self.assertIn("  element real         1     64  PRES\\x0aSURE             Pa", lines)
        self.assertIn("  element integer      1     12  STA\\x09TUS               -", lines)
        self.assertIn("  element real         1     86  TE\\x0dMP                 K", lines)
        self.assertIn("  node real            1      4  VEL\\x7f\\xc2\\x9b\\x9bOCITY m/s", lines)

    def test_comparison_names_the_array_on_its_line(self):
        other = self.path("other")
        run(MAKE_CASE, "control_names_shifted", other)
        rc, out, err = run(DIFF, self.cycle, os.path.join(other, "hostile_run_1.qvres"), check=False)
        self.assertEqual(rc, 1, err)
        self.assert_plain(out + err, "diff")
        self.assertNotRegex(out, r"(?m)^SURE")
        beyond = [line for line in out.splitlines() if "beyond tolerance" in line]
        self.assertEqual(len(beyond), 2, out)
        for line in beyond:
            self.assertTrue(line.startswith("    PRES\\x0aSURE: 11 of 11 element values beyond tolerance"), line)
            self.assertIn("(part 2 CU\\x09BE, cell 2,2,2)", line)
        self.assertEqual(len(out.splitlines()), 4 + 2 * 2 + 1, out)

    def test_export_paths_and_xml_names(self):
        # An output directory whose name holds a line feed: the report
        # stays one line.
        outdir = self.path("vtk\nout")
        _, out, _ = run(TO_VTK, self.cycle, outdir)
        self.assertEqual(len(out.splitlines()), 1, out)
        self.assertTrue(out.startswith(f"wrote {self.dir}/vtk\\x0aout/hostile_run.pvd and 2 files "
                                       "hostile_run_0000.vtm ... hostile_run_0001.vtm ("), out)
        # DEL, U+009B in UTF-8 and a raw 0x9b byte each become '?'.
        for name in sorted(os.listdir(outdir)):
            with open(os.path.join(outdir, name), "rb") as f:
                data = f.read()
            for bad in (b"\x7f", b"\xc2\x80", b"\xc2\x9b", b"\xc2\x9f"):
                self.assertNotIn(bad, data.split(b"<AppendedData")[0], (name, bad))
        blocks = ET.parse(os.path.join(outdir, "hostile_run_0000.vtm")).getroot().iter("DataSet")
        self.assertIn("PL???ANE", [b.get("name") for b in blocks])
        self.assertIn("VEL???OCITY", Vtu(os.path.join(outdir, "hostile_run_0000_1.vts")).point_arrays())
        svg = self.path("plot.svg")
        run(INSPECT, "history", self.cycle, "4", "--node", "1", "--svg", svg)
        texts = [t.text for t in ET.parse(svg).getroot().iter("{http://www.w3.org/2000/svg}text")]
        self.assertIn("VEL???OCITY at node 1 (part 1)", texts)
        self.assertIn("VEL???OCITY (m/s)", texts)


class ManyUnknownTolerances(ToolTest):
    TOOLS = ("QVRES_DIFF", "QVRES_MAKE_CASE")

    def test_one_warning_names_a_few(self):
        analysis = self.path("names")
        run(MAKE_CASE, "names", analysis)
        cycle = os.path.join(analysis, "hostile_run_1.qvres")
        names = [f"nosuch{n:06d}" for n in range(200000)] + ["\x1b[31mx"]
        tolerances = self.path("tol.txt")
        with open(tolerances, "w") as f:
            for name in names:
                f.write(f"{name} 0.1 0\n")
        rc, out, err = run(DIFF, cycle, cycle, "--tolerances", tolerances)
        self.assertEqual(rc, 0)
        lines = err.strip().splitlines()
        self.assertEqual(len(lines), 1, err[:2000])
        # Names as they were given, sorted; the first five are named.
        first = ", ".join(shown(n) for n in sorted(names)[:5])
        self.assertIn(f"the tolerances of {first} ... and {len(names) - 5} more apply to no array compared",
                      lines[0])
        self.assertNotIn("\x1b", err)


class InstalledTools(unittest.TestCase):
    """An installed tool looks for its library beside itself, in the
    installed library directory and on the loader's path, never in the
    build tree: once that is gone, whoever re-creates its path would choose
    the library."""

    def test_the_build_tree_is_not_searched(self):
        self.assertTrue(os.path.isdir(BUILD_DIR))
        with tempfile.TemporaryDirectory(prefix="qvres-install-") as prefix:
            subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], check=True,
                           capture_output=True, timeout=600)
            inspect = os.path.join(prefix, "bin", "qvres-inspect")
            env = {k: v for k, v in os.environ.items() if k not in ("QVRES_LIBRARY", "LD_LIBRARY_PATH")}
            rc, out, err = run(inspect, "--version", env=env)
            self.assertIn("results library", out)
            self.assertIn(prefix, out)
            # Without the installed library the tool finds none: the build
            # tree's, still in place, is not among the candidates.
            for root, _, files in os.walk(prefix):
                for f in files:
                    if f.startswith("libqvres.so"):
                        os.remove(os.path.join(root, f))
            rc, out, err = run(inspect, "--version", env=env)
            self.assertIn("results library: none loaded", out)
            self.assertNotIn(os.path.realpath(BUILD_DIR), out)
            self.assertNotIn(BUILD_DIR, out)
            # The build tree's own tool still finds the build tree's library.
            rc, out, err = run(INSPECT, "--version", env=env)
            self.assertIn("results library", out)
            self.assertNotIn("none loaded", out)


if __name__ == "__main__":
    unittest.main()
