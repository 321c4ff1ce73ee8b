"""scripts/demo.sh end to end, in the build tree the tests run in: it must
leave the sample, a summary, a history plot and a ParaView collection."""
import glob
import os
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from tooltest import BUILD_DIR, SOURCE_DIR
from vtu import Vtu


class Demo(unittest.TestCase):
    def test_demo_writes_every_output(self):
        with tempfile.TemporaryDirectory(prefix="qvres-demo-") as out:
            env = dict(os.environ, BUILD_DIR=BUILD_DIR, OUT_DIR=out)
            p = subprocess.run(["bash", os.path.join(SOURCE_DIR, "scripts", "demo.sh")], env=env,
                               capture_output=True, text=True, timeout=1400)
            self.assertEqual(p.returncode, 0, p.stdout[-3000:] + p.stderr[-3000:])
            self.assertIn("parts          8 (1 structured, 7 unstructured)", p.stdout)
            self.assertIn(os.path.join(out, "vtk", "sample_run.pvd"), p.stdout)

            cycles = glob.glob(os.path.join(out, "sample", "sample_run_*.qvres"))
            self.assertEqual(len(cycles), 12)
            self.assertTrue(os.path.isfile(os.path.join(out, "sample", "sample_run.qvres_base")))

            svg = ET.parse(os.path.join(out, "pressure_history.svg")).getroot()
            self.assertEqual(svg.tag, "{http://www.w3.org/2000/svg}svg")
            with open(os.path.join(out, "pressure_history.csv")) as f:
                self.assertEqual(len(f.read().strip().splitlines()), 13)

            datasets = ET.parse(os.path.join(out, "vtk", "sample_run.pvd")).getroot().findall("./Collection/DataSet")
            self.assertEqual(len(datasets), len(cycles))
            times = [float(d.get("timestep")) for d in datasets]
            self.assertEqual(times, sorted(times))
            for d in datasets:
                # A block per part: the Euler block's grid, then the structure's
                # parts, every node among them once (meshio 7 misreads some
                # of these small files: see vtu.py).
                self.assertTrue(d.get("file").endswith(".vtm"))
                blocks = ET.parse(os.path.join(out, "vtk", d.get("file"))).getroot().findall(".//DataSet")
                points = [len(Vtu(os.path.join(out, "vtk", b.get("file"))).arrays["Points"]) for b in blocks]
                self.assertEqual((len(blocks), points[0], sum(points)), (8, 882, 963))


if __name__ == "__main__":
    unittest.main()
