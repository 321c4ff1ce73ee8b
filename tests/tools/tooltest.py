"""Helpers shared by the tool tests: where the tools are, running them, and
a fresh sample analysis in a private directory."""
import os
import re
import subprocess
import tempfile
import unittest

SAMPLE = os.environ.get("QVRES_SAMPLE", "")
INSPECT = os.environ.get("QVRES_INSPECT", "")
TO_VTK = os.environ.get("QVRES_TO_VTK", "")
DIFF = os.environ.get("QVRES_DIFF", "")
HOST_EXAMPLE = os.environ.get("QVRES_HOST_EXAMPLE", "")
WRITE_MIXED = os.environ.get("QVRES_WRITE_MIXED", "")
SOURCE_DIR = os.environ.get("QVRES_SOURCE_DIR", "")
BUILD_DIR = os.environ.get("QVRES_BUILD_DIR", "")


def run(*args, check=True, env=None):
    """Runs a tool; returns (exit code, stdout, stderr)."""
    p = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=600, env=env)
    if check and p.returncode != 0:
        raise AssertionError(f"{args} exited {p.returncode}:\n{p.stdout}\n{p.stderr}")
    return p.returncode, p.stdout, p.stderr


def cycle_table(summary):
    """(step, cycle, time) rows of the cycle table of qvres-inspect summary."""
    rows = re.findall(r"^\s+(\d+)\s+(\d+)\s+([0-9.e+-]+)$", summary.split("\ncycles")[1], re.M)
    return [(int(s), int(c), float(t)) for s, c, t in rows]


def read_csv(path):
    with open(path) as f:
        header = f.readline().strip().split(",")
        rows = [line.rstrip("\n").split(",") for line in f]
    return header, rows


# The mixed model of tests/support (analysis_files.h): structured parts
# PLANE 1x3x2, CUBE 3x3x3, SLAB 2x1x3, SHEET 1x2x2, slots in this order.
MIXED_EXTENTS = [(1, 3, 2), (3, 3, 3), (2, 1, 3), (1, 2, 2)]


def mixed_cells():
    """(part, 0-based slot inside the part, 1-based element) of every
    structured cell of the mixed model, in element order; a cell is named by
    its highest corner."""
    number = 0
    for part, (I, J, K) in enumerate(MIXED_EXTENTS, 1):
        for i in range(2, I + 1):
            for j in range(2, J + 1):
                for k in range(2, K + 1):
                    number += 1
                    yield part, ((i - 1) * J + (j - 1)) * K + (k - 1), number


class ToolTest(unittest.TestCase):
    """A test case with a private directory self.dir and the programs it
    needs, by environment variable, checked first."""
    TOOLS = ("QVRES_SAMPLE", "QVRES_INSPECT", "QVRES_TO_VTK")

    def setUp(self):
        for name in self.TOOLS:
            self.assertTrue(os.path.isfile(os.environ.get(name, "")), f"{name} does not name a program")
        self._tmp = tempfile.TemporaryDirectory(prefix="qvres-tools-")
        self.dir = self._tmp.name

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)


class SampleTest(ToolTest):
    """A test case with its own sample analysis in self.sample."""

    def setUp(self):
        super().setUp()
        self.sample = self.path("sample")
        run(SAMPLE, self.sample)
        self.base = os.path.join(self.sample, "sample_run.qvres_base")
        self.cycle = os.path.join(self.sample, "sample_run_0.qvres")

    def expect_error(self, tool, args, contains, code=1):
        """Runs a tool that must fail with exit status `code`, its last line
        of standard error naming the tool and containing `contains`."""
        rc, out, err = run(tool, *args, check=False)
        self.assertEqual(rc, code, f"{args}: {out} {err}")
        lines = err.strip().splitlines()
        self.assertTrue(lines[-1].startswith(os.path.basename(tool) + ": "), lines[-1])
        self.assertIn(contains, lines[-1])
        return lines
