"""qvres-diff as a regression suite runs it: copies agree (0), a value changed
in one cycle file is found with its node or element and cycle (1), the
tolerances of the command line and of a tolerance file are kept, other
models and cycles of one analysis alone are differences (1), and a damaged
file or a wrong command is status 2 naming what is wrong."""
import csv
import os
import pty
import re
import shutil
import subprocess
import unittest

from tooltest import DIFF, MIXED_EXTENTS, SAMPLE, WRITE_MIXED, ToolTest, mixed_cells, read_csv, run

MATERIALS_STORED = 3  # per slot: WATER, STEEL, AIR, then the slot's own value


def local_slot(part, i, j, k):
    _, J, K = MIXED_EXTENTS[part - 1]
    return ((i - 1) * J + (j - 1)) * K + (k - 1)


def slot(part, i, j, k):
    """0-based slot of node (i, j, k) of a structured part among all slots."""
    return sum(a * b * c for a, b, c in MIXED_EXTENTS[:part - 1]) + local_slot(part, i, j, k)


def element(part, i, j, k):
    """1-based element number of the cell whose highest corner is (i, j, k)."""
    return next(n for p, s, n in mixed_cells() if (p, s) == (part, local_slot(part, i, j, k)))


def cube_value(cycle):
    """The stored value of CUBE cell (3, 2, 3) in a cycle of the mixed model."""
    return 10000 * cycle + 1000 * 2 + local_slot(2, 3, 2, 3)


class DiffTest(ToolTest):
    TOOLS = ("QVRES_DIFF", "QVRES_WRITE_MIXED", "QVRES_SAMPLE")

    def mixed(self, name, *options):
        run(WRITE_MIXED, self.path(name), *options)
        return self.path(name)

    def diff(self, *args, code):
        rc, out, err = run(DIFF, *args, check=False)
        self.assertEqual(rc, code, f"{args}:\n{out}\n{err}")
        return out, err

    def rows(self, *args, code):
        self.diff(*args, "--csv", self.path("d.csv"), code=code)
        with open(self.path("d.csv"), newline="") as f:
            table = list(csv.reader(f))
        self.assertEqual({len(r) for r in table}, {25}, "every row as wide as the header")
        return [dict(zip(table[0], r)) for r in table[1:]]


class Agreement(DiffTest):
    def test_copies_agree_whatever_the_threads_and_names(self):
        run(SAMPLE, self.path("a"))
        shutil.copytree(self.path("a"), self.path("b"))
        out, err = self.diff(self.path("a"), os.path.join(self.path("b"), "sample_run_0.qvres"), code=0)
        self.assertIn("model   same: 8 parts, 963 nodes, 635 elements; coordinates equal", out)
        self.assertIn("cycles  12 matched by time, 0 only in A, 0 only in B", out)
        self.assertRegex(out, r"result  same within tolerance: \d+ arrays in 12 cycles")
        self.assertEqual(err, "")
        csvs = []
        for threads in ("1", "3"):
            self.diff("--threads", threads, self.path("a"), self.path("b"), "--csv", self.path("d.csv"), code=0)
            with open(self.path("d.csv")) as f:
                csvs.append(f.read())
        self.assertEqual(csvs[0], csvs[1])
        _, rows = read_csv(self.path("d.csv"))
        self.assertEqual({r[8] for r in rows}, {"equal"})
        arrays = {r[6] for r in rows}
        for name in ("DISPLACEMENT", "PRESSURE", "TEMP", "TEMP[WATER]", "TEMP[TNT]", "X-VELOCITY", "TASK_NUMBER",
                     "MATERIAL_FRACTION[TNT]", "COORDINATES"):
            self.assertIn(name, arrays)
        # Every cycle in time order: step 0..11 of both, once per array.
        steps = [int(r[0]) for r in rows if r[6] == "PRESSURE"]
        self.assertEqual(steps, list(range(12)))


class Differences(DiffTest):
    def test_changed_values_are_found_with_their_element_node_and_cycle(self):
        a = self.mixed("a")
        pressure = 2 + slot(2, 3, 2, 3)
        air = 2 + (MATERIALS_STORED + 1) * slot(2, 3, 2, 3) + 2  # the third stored material, AIR
        velocity = 2 + slot(4, 1, 1, 2)
        b = self.mixed("b", "--set", "2", "PRESSURE", pressure, "-5", "--set", "2", "X-VELOCITY", velocity, "7.5",
                       "--set", "1", "TEMP", air, "1e9")
        out, _ = self.diff(a, b, code=1)
        cell = f"element {element(2, 3, 2, 3)} (part 2 CUBE, cell 3,2,3)"
        self.assertIn(f"  step 1 (cycle 2, t = 0.002 s):\n    PRESSURE: 1 of 11 element values beyond tolerance; "
                      f"largest difference {cube_value(2) + 5} Pa at {cell} (A {cube_value(2)}, B -5)", out)
        self.assertIn(f"X-VELOCITY: 1 of 55 node values beyond tolerance; largest difference "
                      f"{10000 * 2 + slot(4, 1, 1, 2) - 7.5:g} m/s at node {slot(4, 1, 1, 2) + 1} "
                      f"(part 4 SHEET, 1,1,2) (A 20040, B 7.5)", out)
        # A material's column alone: the element's own temperature agrees.
        step0 = out.split("  step 0 (cycle 1")[1].split("  step 1")[0]
        self.assertIn("TEMP[AIR]: 1 of 8 element values beyond tolerance", step0)
        self.assertNotIn("TEMP:", step0)
        self.assertIn("result  different: 3 arrays in 2 cycles differ", out)
        rows = self.rows(a, b, code=1)
        beyond = [(r["step_a"], r["array"], r["number"], r["part"], r["i"], r["j"], r["k"])
                  for r in rows if r["status"] == "beyond"]
        self.assertEqual(sorted(beyond), sorted([("0", "TEMP[AIR]", "6", "2", "3", "2", "3"),
                                                 ("1", "PRESSURE", "6", "2", "3", "2", "3"),
                                                 ("1", "X-VELOCITY", "41", "4", "1", "1", "2")]))
        self.assertEqual(element(2, 3, 2, 3), 6)
        # A variable ignored with its material columns, or all but one column.
        self.diff("--ignore", "TEMP,PRESSURE,X-VELOCITY", a, b, code=0)
        out, _ = self.diff("--ignore", "TEMP,PRESSURE,X-VELOCITY", "--tol", "TEMP[AIR]=0,0", a, b, code=1)
        self.assertIn("result  different: 1 array in 1 cycle differs", out)

    def test_tolerances_and_ignore_from_the_command_line_and_a_file(self):
        a = self.mixed("a")
        b = self.mixed("b", "--set", "2", "PRESSURE", 2 + slot(2, 3, 2, 3), cube_value(2) + 2)
        relative = 2 / (cube_value(2) + 2)
        self.diff(a, b, code=1)
        self.diff("--rtol", relative * 1.01, a, b, code=0)
        self.diff("--rtol", relative * 0.99, a, b, code=1)
        self.diff("--tol", "PRESSURE=0,1.9", a, b, code=1)
        self.diff("--tol", "pressure=0,2.1", a, b, code=0)
        self.diff("--tol", "64=0,2.1", a, b, code=0)  # by index
        self.diff("--atol", "2.1", "--tol", "PRESSURE=0,1", a, b, code=1)  # the named one wins
        self.diff("--ignore", "STATUS,PRESSURE", a, b, code=0)
        # Integers differ by one beyond 1 / rtol: equal only with a tolerance of their own.
        status = ("--set", "1", "STATUS", 2 + slot(2, 3, 2, 3))
        numbered = self.mixed("n", *status, "3000000")
        out, _ = self.diff(numbered, self.mixed("m", *status, "3000001"), code=1)
        self.assertIn("STATUS: 1 of 11 element values beyond tolerance", out)
        self.diff("--tol", "STATUS=1e-6,0", numbered, self.path("m"), code=0)
        rows = self.rows("--ignore", "PRESSURE", a, b, code=0)
        self.assertEqual({r["status"] for r in rows if r["array"] == "PRESSURE"}, {"ignored"})
        with open(self.path("tol.txt"), "w") as f:
            f.write("# tolerances of the regression suite\n\nPRESSURE, 1e-3, 0   # enough\nTEMP 0 0\n")
        self.diff("--tolerances", self.path("tol.txt"), a, b, code=0)
        self.diff("--tolerances", self.path("tol.txt"), "--tol", "PRESSURE=0,1", a, b, code=1)
        with open(self.path("tol.txt"), "a") as f:
            f.write("PRESSURE ignore\nDENSITY 1e-3\n")
        _, err = self.diff("--tolerances", self.path("tol.txt"), a, b, code=2)
        self.assertIn(f"{self.path('tol.txt')}:6: expected NAME RELATIVE ABSOLUTE or NAME ignore", err)
        with open(self.path("tol.txt"), "w") as f:
            f.write("PRESSURE ignore\nNOSUCH 0 1\n")
        _, err = self.diff("--tolerances", self.path("tol.txt"), a, b, code=0)
        self.assertIn("warning: the tolerance of NOSUCH applies to no array compared", err)
        # Numbers below the normal range are numbers; a file without end is
        # refused before it fills memory.
        self.diff("--rtol", "1e-320", "--atol", "4e-320", a, a, code=0)
        _, err = self.diff("--tolerances", "/dev/zero", a, b, code=2)
        self.assertIn("the tolerance file /dev/zero is longer than 64 MiB", err)

    def test_nan_and_infinities_agree_with_themselves_only(self):
        where = ("--set", "1", "PRESSURE", 2 + slot(2, 3, 2, 3))
        a = self.mixed("a", *where, "nan")
        self.diff(a, self.mixed("b", *where, "nan"), code=0)
        out, _ = self.diff(a, self.mixed("c"), code=1)
        self.assertIn("PRESSURE: 1 of 11 element values beyond tolerance; largest difference NaN against a number "
                      "at element 6", out)
        self.diff("--atol", "1e30", a, self.mixed("d"), code=1)
        plus, minus = self.mixed("plus", *where, "inf"), self.mixed("minus", *where, "-inf")
        self.diff(plus, self.mixed("plus2", *where, "inf"), code=0)
        for other in (self.path("c"), minus):
            out, _ = self.diff("--rtol", "0.5", "--atol", "1e30", plus, other, code=1)
            self.assertIn("largest difference an infinity against another value at element 6", out)

    def test_integers_are_shown_and_written_in_full(self):
        where = ("--set", "1", "STATUS", 2 + slot(2, 3, 2, 3))
        a = self.mixed("a", *where, "2000000148")
        b = self.mixed("b", *where, "2000000149")
        cell = f"element {element(2, 3, 2, 3)} (part 2 CUBE, cell 3,2,3)"
        out, _ = self.diff(a, b, code=1)
        self.assertIn(f"STATUS: 1 of 11 element values beyond tolerance; largest difference 1 at {cell} "
                      f"(A 2000000148, B 2000000149)", out)
        [row] = [r for r in self.rows(a, b, code=1) if r["status"] == "beyond"]
        self.assertEqual((row["array"], row["largest difference"], row["value_a"], row["value_b"]),
                         ("STATUS", "1", "2000000148", "2000000149"))
        # The largest difference two integers can have.
        c = self.mixed("c", *where, "-2147483647")
        out, _ = self.diff(a, c, code=1)
        self.assertIn(f"largest difference 4147483795 at {cell} (A 2000000148, B -2147483647)", out)

    def test_odd_cycle_times_match_their_like(self):
        odd = ("--cycles", "1,3,4", "--time", "1", "nan", "--time", "3", "-inf", "--time", "4", "inf")
        a, b = self.mixed("a", *odd), self.mixed("b", *odd)
        for match in ("time", "cycle"):
            with self.subTest(match=match):
                out, _ = self.diff("--match", match, a, a, code=0)
                self.assertIn("3 matched by", out)
                out, _ = self.diff("--match", match, a, b, code=0)
                self.assertIn("3 matched by", out)
        # An infinity against a finite time, and against the other infinity.
        c = self.mixed("c", *odd[:-2], "4", "0.004")
        out, _ = self.diff(a, c, code=1)
        self.assertIn("cycles  2 matched by time, 1 only in A, 1 only in B", out)
        self.assertIn("  A step 2 (cycle 4, t = inf s): only in A", out)
        self.assertIn("  B step 2 (cycle 4, t = 0.004 s): only in B", out)
        low, high = (self.mixed(name, "--cycles", "1,3", "--time", "1", "nan", "--time", "3", t)
                     for name, t in (("low", "-inf"), ("high", "inf")))
        out, _ = self.diff(low, high, code=1)
        self.assertIn("cycles  1 matched by time, 1 only in A, 1 only in B", out)
        self.assertIn("  A step 1 (cycle 3, t = -inf s): only in A", out)
        self.assertIn("  B step 1 (cycle 3, t = inf s): only in B", out)
        # A NaN time against a number.
        d = self.mixed("d", *odd[:4], "0.001", *odd[5:])
        out, _ = self.diff(a, d, code=1)
        self.assertIn("cycles  2 matched by time, 1 only in A, 1 only in B", out)
        self.assertIn("  A step 0 (cycle 1, t = nan s): only in A", out)
        self.assertIn("(cycle 1, t = 0.001 s): only in B", out)

    def test_other_models(self):
        a = self.mixed("a")
        run(SAMPLE, self.path("sample"))
        out, _ = self.diff(a, self.path("sample"), code=1)
        self.assertIn("model   differs:\n  structured parts: A 4, B 1\n  unstructured parts: A 2, B 7", out)
        self.assertIn("cycles  not compared", out)
        b = self.mixed("b", "--move-node", slot(4, 1, 1, 2), "0.5")
        out, _ = self.diff(a, b, code=1)
        self.assertIn("coordinates: 1 of 165 beyond tolerance; largest difference 0.5 m at node 41 "
                      "(part 4 SHEET, 1,1,2) x", out)
        self.assertIn("cycles  2 matched by time", out)
        self.diff("--tol", "COORDINATES=0,0.6", a, b, code=0)

    def test_cycles_of_one_analysis_alone_and_matching_by_cycle_number(self):
        a = self.mixed("a", "--cycles", "1,2,3")
        out, _ = self.diff(a, self.mixed("b"), code=1)
        self.assertIn("cycles  2 matched by time, 1 only in A, 0 only in B", out)
        self.assertIn("  A step 2 (cycle 3, t = 0.003 s): only in A", out)
        self.assertIn("result  different: 1 cycle only in A", out)
        # Renumbered cycles at the same times: the same by time, none alike by number.
        renumbered = self.mixed("c", "--cycles", "1,2,3", "--renumber", "100")
        self.diff(a, renumbered, code=0)
        out, _ = self.diff("--match", "cycle", a, renumbered, code=1)
        self.assertIn("cycles  0 matched by cycle number, 3 only in A, 3 only in B", out)
        rows = self.rows("--match", "cycle", a, renumbered, code=1)
        self.assertEqual([(r["cycle_a"], r["cycle_b"], r["status"]) for r in rows if r["array"] == ""],
                         [("1", "", "only_a"), ("", "101", "only_b"), ("2", "", "only_a"), ("", "102", "only_b"),
                          ("3", "", "only_a"), ("", "103", "only_b")])
        # On a terminal, with a cycle of B alone: the progress bar counts the pairs compared.
        six, seven = self.mixed("g", "--cycles", "1,2,3,4,5,6"), self.mixed("h", "--cycles", "1,2,3,4,5,6,7")
        terminal, secondary = pty.openpty()
        try:
            code = subprocess.run([DIFF, "--threads", "2", six, seven], stdout=subprocess.DEVNULL,
                                  stderr=secondary, timeout=600).returncode
        finally:
            os.close(secondary)
        shown = os.read(terminal, 1 << 16)
        os.close(terminal)
        self.assertEqual(code, 1, shown)
        self.assertIn(b"6/6", shown)
        # Same numbers at other times: alike by number only.
        self.diff("--match", "cycle", a, self.mixed("d", "--cycles", "2,3"), code=1)
        out, _ = self.diff("--match", "cycle", self.mixed("e", "--cycles", "2"), self.mixed("f", "--cycles", "2"), code=0)
        self.assertIn("1 matched by cycle number", out)


class Failures(DiffTest):
    def test_a_damaged_cycle_file_is_status_2_naming_it(self):
        a = self.mixed("a", "--cycles", "1,2,3")
        b = self.mixed("b", "--cycles", "1,2,3")
        victim = os.path.join(b, "mixed_run_2.qvres")
        with open(victim, "rb") as f:
            os.truncate(victim, f.read().index(b"<Element>") + 120)  # inside the first element array
        for args in ((a, b), (b, a), ("--threads", "1", b, a)):
            out, err = self.diff(*args, code=2)
            self.assertRegex(err.splitlines()[-1], rf"^qvres-diff: .*{re.escape(victim)}")
            self.assertIn("damaged or truncated", err)
        os.truncate(victim, 81)  # inside its header: not registered at all
        _, err = self.diff(a, b, code=2)
        self.assertIn(victim, err)
        self.assertIn("B: 1 cycle file of", err.splitlines()[-1])

    def test_missing_analysis_and_wrong_commands(self):
        a = self.mixed("a")
        missing = self.path("none/run_1.qvres")
        _, err = self.diff(a, missing, code=2)
        self.assertIn(f"no analysis found for {missing}", err)
        for args, message in ((["--rtol", "-1", a, a], "--rtol must be a number of at least 0"),
                              (["--tol", "PRESSURE=1", a, a], "--tol takes NAME=REL,ABS"),
                              (["--match", "step", a, a], "--match takes time or cycle"),
                              (["--threads", "0", a, a], "--threads"),
                              (["--frobnicate", a, a], "unknown option"),
                              ([a], "usage: qvres-diff"),
                              (["--tolerances", self.path("none.txt"), a, a], "cannot read the tolerance file")):
            _, err = self.diff(*args, code=2)
            self.assertIn(message, err)
        out, _ = self.diff(a, "--help", code=0)
        self.assertIn("|a - b| <= atol + rtol * max(|a|, |b|)", out)
        out, _ = self.diff("--version", code=0)
        self.assertRegex(out, r"^qvres-diff \d+\.\d+\.\d+\nresults library")


if __name__ == "__main__":
    unittest.main()
