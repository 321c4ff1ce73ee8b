"""The ParaView reader as a plain VTK algorithm: every array, cell and time
step of two cycles against the files qvres-to-vtk writes and the qvres
package; only the selected arrays are read; a missing or damaged file is an
error naming it, never an exception. (The installed plugin: test_install.)"""
import importlib.util
import os
import re
import shutil

import numpy as np
import pytest

import qvres
from conftest import run, same_bits, tool

pytest.importorskip("vtkmodules.vtkIOXML", reason="needs VTK's Python modules (Debian: python3-vtk9)")
from vtkmodules.util.misc import calldata_type  # noqa: E402
from vtkmodules.util.numpy_support import vtk_to_numpy  # noqa: E402
from vtkmodules.util.vtkConstants import VTK_STRING  # noqa: E402
from vtkmodules.vtkCommonCore import vtkOutputWindow, vtkStringOutputWindow  # noqa: E402
from vtkmodules.vtkCommonDataModel import vtkDataObject  # noqa: E402
from vtkmodules.vtkCommonExecutionModel import vtkStreamingDemandDrivenPipeline as SDDP  # noqa: E402
from vtkmodules.vtkIOXML import vtkXMLUnstructuredGridReader  # noqa: E402


def load_plugin(path, name="qvres_reader_under_test"):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def plugin():
    return load_plugin(os.environ["QVRES_PLUGIN"])


def reader_of(plugin, path):
    reader = plugin.QvresReader()
    reader.SetFileName(str(path))
    return reader


def time_steps(reader):
    reader.UpdateInformation()
    info = reader.GetOutputInformation(0)
    return np.array(info.Get(SDDP.TIME_STEPS())) if info.Has(SDDP.TIME_STEPS()) else np.zeros(0)


def exported(path):
    r = vtkXMLUnstructuredGridReader()
    r.SetFileName(str(path))
    r.Update()
    return r.GetOutput()


def arrays(data):
    return [(data.GetArrayName(i), vtk_to_numpy(data.GetArray(i))) for i in range(data.GetNumberOfArrays())]


def assert_same_grid(ours, theirs):
    assert same_bits(vtk_to_numpy(ours.GetPoints().GetData()), vtk_to_numpy(theirs.GetPoints().GetData()))
    assert np.array_equal(vtk_to_numpy(ours.GetCellTypesArray()), vtk_to_numpy(theirs.GetCellTypesArray()))
    for part in ("GetOffsetsArray", "GetConnectivityArray"):
        assert np.array_equal(vtk_to_numpy(getattr(ours.GetCells(), part)()),
                              vtk_to_numpy(getattr(theirs.GetCells(), part)())), part
    for data in ("GetPointData", "GetCellData", "GetFieldData"):
        mine, written = arrays(getattr(ours, data)()), arrays(getattr(theirs, data)())
        assert [n for n, _ in mine] == [n for n, _ in written], data
        for (name, a), (_, b) in zip(mine, written):
            assert same_bits(a, b.astype(a.dtype)), name


@pytest.mark.parametrize("which", ["sample", "mixed"])
def test_two_time_steps_equal_the_vtk_export_and_the_package(plugin, which, request, tmp_path):
    directory = request.getfixturevalue(which)
    run(tool("QVRES_TO_VTK"), directory, tmp_path)
    with qvres.open(directory) as a:
        reader = reader_of(plugin, next(directory.glob("*.qvres_base")))
        times = time_steps(reader)
        assert same_bits(times, a.cycles.times) and len(times) >= 3
        for k in (len(times) - 1, 1):
            assert reader.UpdateTimeStep(times[k])
            ours = reader.GetOutputDataObject(0)
            assert ours.GetInformation().Get(vtkDataObject.DATA_TIME_STEP()) == times[k]
            assert_same_grid(ours, exported(next(tmp_path.glob(f"*_{k:04d}.vtu"))))
            assert same_bits(vtk_to_numpy(ours.GetPointData().GetArray("displacement")), a.displacements(k))
            field = ours.GetFieldData()
            assert field.GetArray("CYCLE").GetValue(0) == a.cycles.numbers[k]
        # Between two cycles the earlier one is shown; outside, the nearest end.
        for t, k in ((0.5 * (times[0] + times[1]), 0), (times[0] - 1.0, 0), (times[-1] + 1.0, len(times) - 1)):
            assert reader.UpdateTimeStep(t)
            assert reader.GetOutputDataObject(0).GetFieldData().GetArray("CYCLE").GetValue(0) == a.cycles.numbers[k]


@pytest.fixture
def calls(monkeypatch):
    """The package's reads, as (method, variable name or argument, ...)."""
    log = []
    for method in ("displacements", "node_values", "element_values", "material_fractions", "coordinates",
                   "connectivity"):
        def spy(self, *args, _original=getattr(qvres.Analysis, method), _method=method):
            log.append((_method,) + tuple(getattr(x, "name", x) for x in args))
            return _original(self, *args)
        monkeypatch.setattr(qvres.Analysis, method, spy)
    return log


def test_only_the_selected_arrays_are_read(plugin, sample, calls):
    reader = reader_of(plugin, sample)
    times = time_steps(reader)
    points, cells = reader.GetPointDataArraySelection(), reader.GetCellDataArraySelection()
    with qvres.open(sample) as a:
        directory = a.variables(0)
    vector = next(v.name[2:] for v in directory if v.kind == 2 and v.name.startswith("X-"))
    assert points.ArrayExists(vector) and points.ArrayExists("displacement") and cells.ArrayExists("PRESSURE")
    points.DisableAllArrays()
    cells.DisableAllArrays()
    points.EnableArray(vector)
    cells.EnableArray("PRESSURE")
    for k in (0, 3):
        assert reader.UpdateTimeStep(times[k])
        out = reader.GetOutputDataObject(0)
        assert [n for n, _ in arrays(out.GetPointData())] == [vector]
        assert [n for n, _ in arrays(out.GetCellData())] == ["PRESSURE"]
    reads = [c for c in calls if c[0] not in ("coordinates", "connectivity")]
    assert sorted(reads) == sorted([("node_values", f"{axis}-{vector}", k) for axis in "XYZ" for k in (0, 3)] +
                                   [("element_values", "PRESSURE", k) for k in (0, 3)])
    # The cells are made once, for every time step.
    assert [c[0] for c in calls if c[0] in ("coordinates", "connectivity")] == ["connectivity", "coordinates"]

    # A change of the selection updates the reader, which reads what was added.
    del calls[:]
    cells.EnableArray("material_fraction[" + a.materials[0].name + "]")
    points.EnableArray("displacement")
    assert reader.UpdateTimeStep(times[3])
    assert sorted(c[0] for c in calls) == ["displacements", "element_values", "material_fractions"] + \
        ["node_values"] * 3
    assert reader.GetOutputDataObject(0).GetCellData().GetArray("material_fraction[" + a.materials[0].name + "]")


@pytest.fixture
def errors():
    """What the reader reports through VTK's output window."""
    window = vtkStringOutputWindow()
    previous = vtkOutputWindow.GetInstance()
    vtkOutputWindow.SetInstance(window)
    yield window
    vtkOutputWindow.SetInstance(previous)


def cycle_file(directory, number):
    return next(p for p in directory.glob("*.qvres") if re.search(rf"_0*{number}\.qvres$", p.name))


def test_missing_and_damaged_files_are_errors_naming_them(plugin, sample, tmp_path, errors):
    missing = tmp_path / "gone" / "run.qvres_base"
    reader = reader_of(plugin, missing)
    assert not reader.UpdateTimeStep(0.0)
    assert str(missing) in errors.GetOutput()
    # To an observer of ErrorEvent, as vtkErrorMacro reports.
    observed = []
    reader.AddObserver("ErrorEvent", calldata_type(VTK_STRING)(lambda obj, event, text: observed.append(text)))
    reader.Modified()
    assert not reader.UpdateTimeStep(0.0)
    assert str(missing) in observed[0]
    assert reader.GetOutputDataObject(0).GetNumberOfCells() == 0

    copy = tmp_path / "copy"
    shutil.copytree(sample, copy)
    with qvres.open(copy) as a:
        times, numbers = a.cycles.times, a.cycles.numbers
    damaged = cycle_file(copy, numbers[2])
    damaged.write_bytes(damaged.read_bytes()[:damaged.stat().st_size * 2 // 3])
    reader = reader_of(plugin, copy / "sample_run.qvres_base")
    assert same_bits(time_steps(reader), times)
    before = len(errors.GetOutput())
    assert not reader.UpdateTimeStep(times[2])
    assert str(damaged) in errors.GetOutput()[before:]
    # The other cycles still read.
    assert reader.UpdateTimeStep(times[1])
    assert reader.GetOutputDataObject(0).GetCellData().GetArray("PRESSURE").GetNumberOfTuples() > 0
