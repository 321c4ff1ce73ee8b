"""Helpers shared by the tool tests: where the tools are, running them, and
a fresh sample analysis in a private directory."""
import os
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


def read_csv(path):
    with open(path) as f:
        header = f.readline().strip().split(",")
        rows = [line.rstrip("\n").split(",") for line in f]
    return header, rows


class SampleTest(unittest.TestCase):
    """A test case with its own sample analysis in self.dir."""

    def setUp(self):
        for name, path in (("QVRES_SAMPLE", SAMPLE), ("QVRES_INSPECT", INSPECT), ("QVRES_TO_VTK", TO_VTK)):
            self.assertTrue(os.path.isfile(path), f"{name} does not name a tool: '{path}'")
        self._tmp = tempfile.TemporaryDirectory(prefix="qvres-tools-")
        self.dir = self._tmp.name
        self.sample = os.path.join(self.dir, "sample")
        run(SAMPLE, self.sample)
        self.base = os.path.join(self.sample, "sample_run.qvres_base")
        self.cycle = os.path.join(self.sample, "sample_run_0.qvres")

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)
