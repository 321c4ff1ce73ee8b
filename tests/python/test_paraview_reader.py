"""The ParaView reader as a plain VTK algorithm: a block per part, named
after it; every block equal to the multiblock export (whose blocks hold the
library's values: vtk_roundtrip_test.py);
tensors; eroded cells hidden; only the selected arrays are read; a missing
or damaged file is an error naming it, never an exception; cycles without
a finite time are no time steps; a reader that only VTK holds, as in
ParaView. (The installed plugin: test_install.)"""
import gc
import importlib.util
import os
import re
import shutil

import numpy as np
import pytest

import qvres
from conftest import open_files, run, same_bits, tool

pytest.importorskip("vtkmodules.vtkIOXML", reason="needs VTK's Python modules (Debian: python3-vtk9)")
from vtkmodules.util.misc import calldata_type  # noqa: E402
from vtkmodules.util.numpy_support import vtk_to_numpy  # noqa: E402
from vtkmodules.util.vtkConstants import VTK_STRING  # noqa: E402
from vtkmodules.vtkCommonCore import vtkOutputWindow, vtkStringOutputWindow  # noqa: E402
from vtkmodules.vtkCommonDataModel import vtkCompositeDataSet, vtkDataObject, vtkDataSetAttributes  # noqa: E402
from vtkmodules.vtkCommonExecutionModel import vtkStreamingDemandDrivenPipeline as SDDP  # noqa: E402
from vtkmodules.vtkFiltersGeneral import vtkPassArrays  # noqa: E402
from vtkmodules.vtkIOXML import vtkXMLMultiBlockDataReader, vtkXMLUnstructuredGridReader  # noqa: E402


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
    r = vtkXMLUnstructuredGridReader() if str(path).endswith(".vtu") else vtkXMLMultiBlockDataReader()
    r.SetFileName(str(path))
    r.Update()
    return r.GetOutput()


def arrays(data):
    return [(data.GetArrayName(i), vtk_to_numpy(data.GetArray(i))) for i in range(data.GetNumberOfArrays())]


def blocks(output):
    """(name, dataset) of each block."""
    return [(output.GetMetaData(k).Get(vtkCompositeDataSet.NAME()), output.GetBlock(k))
            for k in range(output.GetNumberOfBlocks())]


def points_of(grid):
    return vtk_to_numpy(grid.GetPoints().GetData())


def cells_of(grid):
    """Types, offsets and connectivity of an unstructured grid."""
    return (vtk_to_numpy(grid.GetCellTypesArray()), vtk_to_numpy(grid.GetCells().GetOffsetsArray()),
            vtk_to_numpy(grid.GetCells().GetConnectivityArray()))


def assert_same_arrays(ours, theirs):
    for data in ("GetPointData", "GetCellData", "GetFieldData"):
        mine, written = arrays(getattr(ours, data)()), arrays(getattr(theirs, data)())
        assert [n for n, _ in mine] == [n for n, _ in written], data
        for (name, a), (_, b) in zip(mine, written):
            assert same_bits(a, b.astype(a.dtype)), name


@pytest.mark.parametrize("which", ["sample", "mixed"])
def test_blocks_equal_the_multiblock_export(plugin, which, request, tmp_path):
    """Every block equal to the one the export writes (whose unstructured blocks
    are their parts' cells of the one grid of --single-vtu, corner for
    corner: vtk_roundtrip_test.py)."""
    directory = request.getfixturevalue(which)
    run(tool("QVRES_TO_VTK"), directory, tmp_path / "blocks")
    with qvres.open(directory) as a:
        reader = reader_of(plugin, next(directory.glob("*.qvres_base")))
        times = time_steps(reader)
        assert same_bits(times, a.cycles.times) and len(times) >= 3
        names = [p.name for p in a.parts]
        for k in (len(times) - 1, 1):
            assert reader.UpdateTimeStep(times[k])
            ours = reader.GetOutputDataObject(0)
            assert ours.GetInformation().Get(vtkDataObject.DATA_TIME_STEP()) == times[k]
            assert ours.GetFieldData().GetArray("CYCLE").GetValue(0) == a.cycles.numbers[k]
            mine = blocks(ours)
            assert [n for n, _ in mine] == names
            assert [g.GetClassName() for _, g in mine] == \
                ["vtkStructuredGrid" if p.structured else "vtkUnstructuredGrid" for p in a.parts]
            # The multiblock export, block for block.
            theirs = blocks(exported(next((tmp_path / "blocks").glob(f"*_{k:04d}.vtm"))))
            assert [n for n, _ in theirs] == names
            for (_, g), (_, h) in zip(mine, theirs):
                assert g.GetClassName() == h.GetClassName()
                assert same_bits(points_of(g), points_of(h))
                if g.GetClassName() == "vtkUnstructuredGrid":
                    assert all(np.array_equal(x, y) for x, y in zip(cells_of(g), cells_of(h)))
                else:
                    assert g.GetDimensions() == h.GetDimensions()
                assert_same_arrays(g, h)
        # Between two cycles the earlier one is shown; outside, the nearest end.
        for t, k in ((0.5 * (times[0] + times[1]), 0), (times[0] - 1.0, 0), (times[-1] + 1.0, len(times) - 1)):
            assert reader.UpdateTimeStep(t)
            assert reader.GetOutputDataObject(0).GetFieldData().GetArray("CYCLE").GetValue(0) == a.cycles.numbers[k]


@pytest.fixture(scope="module")
def stressed(tmp_path_factory):
    """The mixed fixture with STRESS XX .. ZX, and EROSION by node in every
    cycle and by element in cycles 20 and 30."""
    d = tmp_path_factory.mktemp("stressed") / "stressed"
    run(tool("QVRES_FIXTURE"), d, "--stress-and-erosion")
    return d


def block_cells(a, p, values):
    """The rows of element_values(cells=True) that part p's block holds, in
    its order: VTK counts a structured block's cells I fastest."""
    if p.structured:
        first = sum(q.elements for q in a.parts[:p.number - 1] if q.structured)
        I, J, K = (x - 1 for x in p.extent)
        return values[first:first + I * J * K].reshape(I, J, K, -1).transpose(2, 1, 0, 3).reshape(
            I * J * K, *values.shape[1:])
    return values[sum(q.elements for q in a.parts if q.structured) + a.part_elements(p.number) - 1]


def test_tensors_and_eroded_cells_in_the_reader_and_the_export(plugin, stressed, tmp_path):
    """STRESS XX .. ZX as one array, XX, YY, ZZ, XY, YZ, XZ (the files' ZX
    last). EROSION by element not 0: hidden (VTK's HIDDENCELL, which
    ParaView's geometry drops); by node: nothing hidden; ShowErodedCells:
    nothing hidden."""
    run(tool("QVRES_TO_VTK"), stressed, tmp_path)
    reader = reader_of(plugin, stressed)
    times = time_steps(reader)
    assert reader.GetCellDataArraySelection().ArrayExists("STRESS")
    hidden = vtkDataSetAttributes.HIDDENCELL
    ghosts = lambda grid: grid.GetCellData().GetArray(vtkDataSetAttributes.GhostArrayName())  # noqa: E731
    plane = lambda p: p.structured and min(p.extent) < 2  # noqa: E731
    with qvres.open(stressed) as a:
        # Cycle 10 stores EROSION by node alone: only a plane's VTK cells,
        # which are no elements, are hidden.
        assert [v.location for v in a.variables(0) if v.name == "EROSION"] == ["node"]
        assert reader.UpdateTimeStep(times[0])
        for p, (_, grid) in zip(a.parts, blocks(reader.GetOutputDataObject(0))):
            assert (vtk_to_numpy(ghosts(grid)) == hidden).all() if plane(p) else ghosts(grid) is None, p.name
        scalars = np.column_stack([a.element_values(f"STRESS {c}", 2, cells=True)
                                   for c in ("XX", "YY", "ZZ", "XY", "YZ", "ZX")])
        eroded = a.element_values(26, 2, cells=True)
        assert set(eroded) == {0, 1, 2}
        assert reader.UpdateTimeStep(times[2])
        for source in (reader.GetOutputDataObject(0), exported(tmp_path / "stressed_run_0002.vtm")):
            for p, (_, grid) in zip(a.parts, blocks(source)):
                data = grid.GetCellData()
                assert not any(data.GetArrayName(i).startswith("STRESS_") for i in range(data.GetNumberOfArrays()))
                if plane(p):
                    assert data.GetArray("STRESS") is None  # a plane: no elements
                    continue
                assert data.GetArray("STRESS").GetNumberOfComponents() == 6
                assert same_bits(vtk_to_numpy(data.GetArray("STRESS")), block_cells(a, p, scalars)), p.name
                mine = block_cells(a, p, eroded)
                if mine.any():
                    assert np.array_equal(vtk_to_numpy(ghosts(grid)), np.where(mine != 0, hidden, 0)), p.name
                else:
                    assert ghosts(grid) is None, p.name
        reader.SetShowErodedCells(1)
        assert reader.UpdateTimeStep(times[2])
        for p, (_, grid) in zip(a.parts, blocks(reader.GetOutputDataObject(0))):
            assert plane(p) or ghosts(grid) is None, p.name


@pytest.fixture
def calls(monkeypatch):
    """The package's reads, as (method, variable name or argument, ...)."""
    log = []
    for method in ("displacements", "node_values", "element_values", "material_fractions", "coordinates",
                   "connectivity"):
        def spy(self, *args, _original=getattr(qvres.Analysis, method), _method=method, **kwargs):
            log.append((_method,) + tuple(getattr(x, "name", x) for x in args))
            return _original(self, *args, **kwargs)
        monkeypatch.setattr(qvres.Analysis, method, spy)
    return log


def ticked(selection):
    return [selection.GetArrayName(k) for k in range(selection.GetNumberOfArrays()) if selection.GetArraySetting(k)]


def test_only_the_selected_arrays_are_read(plugin, sample, mixed, calls):
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
        for _, grid in blocks(reader.GetOutputDataObject(0)):
            assert [n for n, _ in arrays(grid.GetPointData())] == [vector]
            assert [n for n, _ in arrays(grid.GetCellData())] == ["PRESSURE"]
    reads = [c for c in calls if c[0] not in ("coordinates", "connectivity")]
    # EROSION too, which says what to hide.
    assert sorted(reads) == sorted([("node_values", f"{axis}-{vector}", k) for axis in "XYZ" for k in (0, 3)] +
                                   [("element_values", name, k) for name in ("PRESSURE", "EROSION") for k in (0, 3)])
    # The cells are made once, for every time step.
    assert [c[0] for c in calls if c[0] in ("coordinates", "connectivity")] == ["connectivity", "coordinates"]

    # A change of the selection updates the reader, which reads what was added.
    del calls[:]
    cells.EnableArray("material_fraction[" + a.materials[0].name + "]")
    points.EnableArray("displacement")
    assert reader.UpdateTimeStep(times[3])
    assert sorted(c[0] for c in calls) == ["displacements"] + ["element_values"] * 2 + ["material_fractions"] + \
        ["node_values"] * 3
    assert reader.GetOutputDataObject(0).GetBlock(0).GetCellData().GetArray(
        "material_fraction[" + a.materials[0].name + "]")

    # A detour through another analysis, which lacks some of the arrays,
    # keeps the choice of every one.
    chosen = ticked(points), ticked(cells)
    for path in (mixed / "mixed_run.qvres_base", sample):
        reader.SetFileName(str(path))
        reader.UpdateInformation()
    assert (ticked(points), ticked(cells)) == chosen


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
    # The last one cut as by a solver stopped while writing it: not even its
    # arrays can be listed. A warning names it, and the analysis opens with
    # the arrays of the other cycles.
    cut = cycle_file(copy, numbers[-1])
    cut.write_bytes(cut.read_bytes()[:cut.stat().st_size // 20])
    reader = reader_of(plugin, copy / "sample_run.qvres_base")
    assert same_bits(time_steps(reader), times)
    assert str(cut) in errors.GetOutput() and reader.GetCellDataArraySelection().ArrayExists("PRESSURE")
    for k, file in ((2, damaged), (len(times) - 1, cut)):
        before = len(errors.GetOutput())
        assert not reader.UpdateTimeStep(times[k])
        assert str(file) in errors.GetOutput()[before:]
    # The other cycles still read.
    assert reader.UpdateTimeStep(times[1])
    assert reader.GetOutputDataObject(0).GetBlock(0).GetCellData().GetArray("PRESSURE").GetNumberOfTuples() > 0

    # A file that cannot be opened leaves nothing of the analysis before:
    # neither its time steps nor its cells.
    reader.SetFileName(str(missing))
    assert not reader.UpdateTimeStep(times[1])
    assert not reader.GetOutputInformation(0).Has(SDDP.TIME_STEPS())
    assert reader.GetOutputDataObject(0).GetNumberOfCells() == 0


def test_node_values_of_another_node_count_are_errors(plugin, tmp_path, errors):
    """Cycle 2 states a node more than the model and lays its node arrays
    out for it: under the model's points they would be other nodes'
    values. That step is an error naming the counts; the others read."""
    if not os.environ.get("QVRES_MAKE_CASE"):
        pytest.skip("needs the hostile case writer")
    run(os.environ["QVRES_MAKE_CASE"], "more_nodes", tmp_path / "more")
    with qvres.open(tmp_path / "more") as a:
        times, nodes = a.cycles.times, a.model.nodes
        second = a.node_values("X-VELOCITY", 1)
    assert len(second) == nodes + 1
    reader = reader_of(plugin, tmp_path / "more" / "hostile_run.qvres_base")
    reader.UpdateInformation()
    # The displacements of such a cycle are refused as such already.
    reader.GetPointDataArraySelection().DisableArray("displacement")
    assert reader.GetPointDataArraySelection().ArrayIsEnabled("X-VELOCITY")
    assert not reader.UpdateTimeStep(times[1])
    assert f"{nodes + 1} node values for {nodes} points" in errors.GetOutput()
    for k in (0, 2):
        assert reader.UpdateTimeStep(times[k])


def test_cycles_without_a_finite_time_are_no_time_steps(plugin, sample, monkeypatch, errors):
    """Times as a damaged file may give them: NaN and infinity, and the
    library orders the cycles on either side of a NaN each on their own."""
    with qvres.open(sample) as a:
        numbers, times = a.cycles.numbers, a.cycles.times.copy()
    times[[0, 2]] = times[[2, 0]]
    times[[1, 4]] = np.nan, np.inf
    load = qvres.Analysis._load_model

    def damaged(self):
        load(self)
        self.cycles = qvres.Cycles(self.cycles.numbers.copy(), times.copy())
    monkeypatch.setattr(qvres.Analysis, "_load_model", damaged)
    reader = reader_of(plugin, sample)
    assert same_bits(time_steps(reader), np.sort(times[np.isfinite(times)]))
    assert f"{numbers[1]} (nan), {numbers[4]} (inf)" in errors.GetOutput()
    for k in (0, 2, 3, len(times) - 1):
        assert reader.UpdateTimeStep(times[k])
        assert reader.GetOutputDataObject(0).GetFieldData().GetArray("CYCLE").GetValue(0) == numbers[k]


def test_a_reader_that_only_vtk_holds(plugin, sample):
    """As in ParaView, which keeps the VTK object and not its Python
    wrapper: a change of the selection still updates the output, and the
    analysis is closed when VTK deletes the reader."""
    reader = reader_of(plugin, sample)
    downstream = vtkPassArrays()
    downstream.SetInputConnection(reader.GetOutputPort())
    downstream.Update()
    cells = reader.GetCellDataArraySelection()
    assert downstream.GetOutput().GetBlock(0).GetCellData().GetArray("PRESSURE") and open_files(sample)
    del reader
    gc.collect()
    cells.DisableArray("PRESSURE")
    downstream.Update()
    assert not downstream.GetOutput().GetBlock(0).GetCellData().GetArray("PRESSURE")
    del downstream, cells
    gc.collect()
    assert not open_files(sample)


def test_hostile_names_are_shown_as_the_export_writes_them(plugin, hostile_names, tmp_path, errors):
    """Part, variable and material names holding terminal escapes: the
    blocks and arrays are named as in the multiblock export (control
    characters as '?'); the error of a path holding them shows them as
    \\xNN."""
    run(tool("QVRES_TO_VTK"), hostile_names, tmp_path / "blocks")
    reader = reader_of(plugin, hostile_names / "hostile_run.qvres_base")
    times = time_steps(reader)
    k = len(times) - 1
    assert reader.UpdateTimeStep(times[k])
    mine = blocks(reader.GetOutputDataObject(0))
    theirs = blocks(exported(next((tmp_path / "blocks").glob(f"*_{k:04d}.vtm"))))
    assert [n for n, _ in mine] == [n for n, _ in theirs]
    assert "?[31mRED?" in [n for n, _ in mine]
    for (_, g), (_, h) in zip(mine, theirs):
        assert_same_arrays(g, h)
    cells = mine[1][1].GetCellData()
    shown = [cells.GetArrayName(i) for i in range(cells.GetNumberOfArrays())]
    assert {"PRES?[2JSURE", "material_fraction[?]0;TITLE?WATER]"} <= set(shown)
    selection = reader.GetCellDataArraySelection()
    offered = [selection.GetArrayName(i) for i in range(selection.GetNumberOfArrays())]
    assert "PRES?[2JSURE" in offered
    assert not any(c in name for name in offered + shown + [n for n, _ in mine] for c in "\x1b\x07")
    assert errors.GetOutput() == ""

    gone = tmp_path / "gone\x1b[2J" / "run.qvres_base"
    assert not reader_of(plugin, gone).UpdateTimeStep(0.0)
    assert "gone\\x1b[2J" in errors.GetOutput() and "\x1b" not in errors.GetOutput()


def test_vtk_text_is_what_vtk_reads_back_from_an_attribute(tmp_path):
    # Tabs and line ends in a name, as qvres-to-vtk writes them into the
    # Name attribute; VTK's XML parser normalises them.
    name = "A\tB\nC\r\nD\rE"
    vtu = tmp_path / "one.vtu"
    vtu.write_bytes(
        b'<?xml version="1.0"?>\n<VTKFile type="UnstructuredGrid" version="1.0" byte_order="LittleEndian">'
        b'<UnstructuredGrid><Piece NumberOfPoints="1" NumberOfCells="0"><PointData>'
        b'<DataArray type="Float32" Name="' + name.encode() + b'" format="ascii">1</DataArray></PointData>'
        b'<Points><DataArray type="Float32" NumberOfComponents="3" format="ascii">0 0 0</DataArray></Points>'
        b'<Cells><DataArray type="Int64" Name="connectivity" format="ascii"></DataArray>'
        b'<DataArray type="Int64" Name="offsets" format="ascii"></DataArray>'
        b'<DataArray type="UInt8" Name="types" format="ascii"></DataArray></Cells>'
        b'</Piece></UnstructuredGrid></VTKFile>\n')
    assert exported(vtu).GetPointData().GetArrayName(0) == qvres.vtk_text(name)
    # Control characters qvres-to-vtk writes as '?' (C0, which XML cannot
    # hold, DEL and C1); the rest stays.
    assert qvres.vtk_text("a\x00\x1b\x7f\x9b\u00e9=") == "a????\u00e9="
