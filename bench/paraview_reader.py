"""The ParaView reader's output and the VTK export, before and after the
parts became blocks (structured parts as vtkStructuredGrid), in one run:

    /usr/bin/python3 bench/paraview_reader.py SAMPLE_DIR [--before REV] [--to-vtk-before PROGRAM]

SAMPLE_DIR is the million-node sample (qvres-sample DIR --extents 100 100
100). The reader of revision REV (default: the one before the change) and
the reader of the source tree each read the last cycle with the default
arrays: build time (best of 3, a new reader each time) and
GetActualMemorySize of the output. Then the export: qvres-to-vtk of the
build tree, as blocks and with --single-vtu, and the PROGRAM given (an
earlier qvres-to-vtk), each timed once, with the bytes written. Run by
hand; needs VTK's Python modules and a built tree (build/)."""
import argparse
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "python"))
os.environ.setdefault("QVRES_LIBRARY", os.path.join(SOURCE, "build", "libqvres.so.2"))


def load(path, name):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def measure(module, sample):
    best, memory, cells = None, None, None
    for _ in range(3):
        reader = module.QvresReader()
        reader.SetFileName(sample)
        reader.UpdateInformation()
        info = reader.GetOutputInformation(0)
        from vtkmodules.vtkCommonExecutionModel import vtkStreamingDemandDrivenPipeline as SDDP
        last = info.Get(SDDP.TIME_STEPS())[-1]
        start = time.perf_counter()
        assert reader.UpdateTimeStep(last)
        took = time.perf_counter() - start
        out = reader.GetOutputDataObject(0)
        best = took if best is None else min(best, took)
        memory, cells = out.GetActualMemorySize(), out.GetNumberOfCells()  # KiB
        del reader, out
    return best, memory, cells


def export(program, sample, *options):
    out = tempfile.mkdtemp(prefix="qvres-bench-")
    try:
        start = time.perf_counter()
        subprocess.run([program, *options, sample, out], check=True, capture_output=True)
        took = time.perf_counter() - start
        size = sum(os.path.getsize(os.path.join(out, f)) for f in os.listdir(out))
        return took, size
    finally:
        shutil.rmtree(out)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sample")
    parser.add_argument("--before", default="1dc96a2", help="git revision of the reader before")
    parser.add_argument("--to-vtk-before", help="an earlier qvres-to-vtk to time against")
    args = parser.parse_args()
    old = os.path.join(tempfile.mkdtemp(prefix="qvres-bench-"), "reader_before.py")
    with open(old, "wb") as f:
        f.write(subprocess.run(["git", "-C", SOURCE, "show", f"{args.before}:paraview/qvres_reader.py"],
                               check=True, capture_output=True).stdout)
    rows = []
    for label, path in (("before", old), ("after", os.path.join(SOURCE, "paraview", "qvres_reader.py"))):
        took, memory, cells = measure(load(path, f"reader_{label}"), args.sample)
        rows.append((label, took, memory))
        print(f"reader {label:6}: {took:6.2f} s, {memory / 1024:7.1f} MB, {cells} cells")
    (_, t0, m0), (_, t1, m1) = rows
    print(f"reader after/before: memory {m1 / m0:.2f}x, time {t1 / t0:.2f}x")

    to_vtk = os.path.join(SOURCE, "build", "tools", "qvres-to-vtk")
    runs = [("blocks", to_vtk, ()), ("--single-vtu", to_vtk, ("--single-vtu",))]
    if args.to_vtk_before:
        runs.insert(0, ("before", args.to_vtk_before, ()))
    for label, program, options in runs:
        took, size = export(program, args.sample, *options)
        print(f"export {label:12}: {took:6.2f} s, {size / 1e6:8.1f} MB")


if __name__ == "__main__":
    main()
