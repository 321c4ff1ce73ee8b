"""The plugin inside ParaView: pvpython loads it from the source tree (no
PYTHONPATH), opens a cycle file with OpenDataFile and gets the cycles as
time steps, a block per part named after it (the Euler block a structured
grid) and the arrays of the qvres package; the export's collection opens in
pvpython with the same blocks and arrays; the application loads the plugin
with the start-up script. (Missing and damaged files: test_paraview_reader.)
Skipped where ParaView is not installed."""
import json
import os
import shutil
import subprocess

import numpy as np
import pytest

import qvres
from conftest import run, same_bits, tool

PVPYTHON = shutil.which("pvpython")
pytestmark = pytest.mark.skipif(PVPYTHON is None, reason="ParaView's pvpython is not installed")

# What the README tells pvpython users: ParaView 5.11.0 under Python 3.11
# needs inspect.getargspec back to load a Python plugin.
LOAD = """
import inspect, sys
if not hasattr(inspect, "getargspec"):
    inspect.getargspec = inspect.getfullargspec
from paraview.simple import LoadPlugin
LoadPlugin(sys.argv[1], ns=globals())
"""

OPEN = LOAD + """
import json
from paraview.simple import OpenDataFile, servermanager
from paraview.vtk import vtkCompositeDataSet


def names(data):
    return [data.GetArrayName(i) for i in range(data.GetNumberOfArrays())]


def blocks(output):
    # Name, class, points, cells and arrays of each block.
    return [[output.GetMetaData(k).Get(vtkCompositeDataSet.NAME()), output.GetBlock(k).GetClassName(),
             output.GetBlock(k).GetNumberOfPoints(), output.GetBlock(k).GetNumberOfCells(),
             names(output.GetBlock(k).GetPointData()), names(output.GetBlock(k).GetCellData())]
            for k in range(output.GetNumberOfBlocks())]


reader = OpenDataFile(sys.argv[2])
reader.UpdatePipelineInformation()
out = {"proxy": reader.GetXMLName(), "times": list(reader.TimestepValues),
       "points": list(reader.PointArrays), "cells": list(reader.CellArrays)}
reader.PointArrays = ["displacement"]
reader.CellArrays = ["PRESSURE", "part"]
t = out["times"][-2]
reader.UpdatePipeline(t)
out["blocks"] = blocks(servermanager.Fetch(reader))
out["cycle"] = int(servermanager.Fetch(reader).GetFieldData().GetArray("CYCLE").GetValue(0))
# The export of the same analysis, all arrays.
reader.PointArrays = out["points"]
reader.CellArrays = out["cells"]
reader.UpdatePipeline(t)
out["all_blocks"] = blocks(servermanager.Fetch(reader))
collection = OpenDataFile(sys.argv[3])
collection.UpdatePipelineInformation()
out["collection_times"] = list(collection.TimestepValues)
collection.UpdatePipeline(out["collection_times"][-2])
out["collection_cycle"] = int(servermanager.Fetch(collection).GetBlock(0).GetFieldData().GetArray("CYCLE").GetValue(0))
out["collection_blocks"] = blocks(servermanager.Fetch(collection))
# A group of numbered files, as the file dialog offers them.
group = OpenDataFile(sys.argv[4:])
group.UpdatePipelineInformation()
out["group_times"] = list(group.TimestepValues)
print("RESULT " + json.dumps(out))
"""

def pvpython(tmp_path, script, *args):
    (tmp_path / "script.py").write_text(script)
    environment = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    p = subprocess.run([PVPYTHON, "--force-offscreen-rendering", str(tmp_path / "script.py"),
                        os.environ["QVRES_PLUGIN"], *map(str, args)],
                       capture_output=True, text=True, cwd=tmp_path, env=environment, timeout=300)
    assert p.returncode == 0, p.stdout + p.stderr
    return p


def test_pvpython_opens_a_cycle_file_and_the_export_with_the_same_blocks(sample, tmp_path):
    run(tool("QVRES_TO_VTK"), sample, tmp_path / "vtk")
    with qvres.open(sample) as a:
        cycle_files = sorted(sample.glob("*.qvres"))
        p = pvpython(tmp_path, OPEN, cycle_files[-1], tmp_path / "vtk" / "sample_run.pvd", *cycle_files)
        [line] = [x for x in p.stdout.splitlines() if x.startswith("RESULT ")]
        out = json.loads(line[len("RESULT "):])
        assert out["proxy"] == "QvresReader"
        assert same_bits(np.array(out["times"]), a.cycles.times)
        assert out["group_times"] == out["times"]
        assert out["points"][0] == "displacement" and "PRESSURE" in out["cells"] and out["cells"][-1] == "part"
        # A block per part, named after it; the Euler block a structured grid.
        assert [b[0] for b in out["blocks"]] == [p.name for p in a.parts]
        assert [b[1] for b in out["blocks"]] == \
            ["vtkStructuredGrid" if p.structured else "vtkUnstructuredGrid" for p in a.parts]
        assert a.parts[0].name == "EULER_BLOCK" and out["blocks"][0][2:4] == [a.parts[0].nodes, a.parts[0].elements]
        # The selected arrays; hidden cells by then among the tetrahedra alone.
        assert [b[4:] for b in out["blocks"]] == \
            [[["displacement"], ["PRESSURE", "part"] + (["vtkGhostType"] if p.name == "TET_BLOCK" else [])]
             for p in a.parts]
        # The values of the time step shown: test_paraview_reader, through the same reader.
        assert out["cycle"] == a.cycles.numbers[len(a.cycles) - 2]
        # The export opened in ParaView: the same times, blocks and arrays.
        # (the collection holds times to 9 digits)
        assert np.allclose(out["collection_times"], out["times"], rtol=1e-8, atol=0)
        assert out["collection_cycle"] == out["cycle"]
        assert out["collection_blocks"] == out["all_blocks"]


def test_the_application_loads_the_plugin_with_the_start_up_script(sample, tmp_path):
    paraview, xvfb_run = shutil.which("paraview"), shutil.which("xvfb-run")
    if paraview is None or xvfb_run is None:
        pytest.fail("pvpython is installed, but not the paraview application or xvfb-run (Debian: xvfb)")
    startup = os.path.join(os.path.dirname(os.environ["QVRES_PLUGIN"]), "qvres_startup.py")
    report = tmp_path / "report.txt"
    # The script of --script runs without a file name of its own: it runs
    # the start-up script, then opens the base file.
    (tmp_path / "check.py").write_text(
        f"exec(open({startup!r}).read())\n"
        "from paraview.simple import OpenDataFile\n"
        f"r = OpenDataFile({str(sample / 'sample_run.qvres_base')!r})\n"
        "r.UpdatePipelineInformation()\n"
        f"open({str(report)!r}, 'w').write(r.GetXMLName() + ' ' + str(len(r.TimestepValues)))\n")
    environment = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    environment["QVRES_PARAVIEW_PLUGIN"] = os.environ["QVRES_PLUGIN"]
    # Under the sanitizers only ParaView, which loads the library, gets their runtimes.
    preload = ["env", "LD_PRELOAD=" + os.environ["LD_PRELOAD"]] if os.environ.get("LD_PRELOAD") else []
    p = subprocess.run([xvfb_run, "-a", *preload, paraview, f"--script={tmp_path / 'check.py'}", "--exit"],
                       capture_output=True, text=True, cwd=tmp_path, env=environment, timeout=300)
    assert report.exists(), p.stdout + p.stderr
    with qvres.open(sample) as a:
        assert report.read_text() == f"QvresReader {len(a.cycles)}"
