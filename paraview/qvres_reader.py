"""A ParaView reader of explicit-dynamics results: opens a base file
(.qvres_base) or any cycle file (.qvres) of an analysis and gives its model
as a vtkMultiBlockDataSet with a block per part, named after the part, the
cycles as time steps in seconds (those whose time is a finite number).

Load it in ParaView with Tools > Manage Plugins > Load New (or
LoadPlugin(path, ns=globals()) in pvpython). The algorithm is a plain
VTKPythonAlgorithmBase: with VTK alone it runs as

    reader = QvresReader()
    reader.SetFileName("out/sample/sample_run.qvres_base")
    reader.UpdateTimeStep(t)

A structured part of I x J x K nodes is a vtkStructuredGrid of those
dimensions (I fastest, as VTK counts); each unstructured part is a
vtkUnstructuredGrid of its elements in element order, with the nodes they
use as its points (elements of no part, if any, make a last block). The
arrays are those qvres-to-vtk writes: point data "displacement" and the
node variables (the X, Y and Z components of a vector of the library's
catalogue as one vector), cell data the element variables (the six
components of a symmetric tensor of the catalogue as one 6-component array
in VTK's order XX, YY, ZZ, XY, YZ, XZ; multi-material ones also per
material as NAME[MATERIAL]), "material_fraction[MATERIAL]" and "part", all
in SI units. In a cycle that stores the element variable EROSION, the
cells of eroded elements (not 0) are hidden (vtkGhostType with the
hidden-cell bit) unless ShowErodedCells is set. Only the arrays enabled in
the point and cell array selections are read, for the one cycle asked;
the analysis and the blocks' points and cells are kept between time steps,
and closed when the file changes or VTK deletes the reader.

It reads through the Python package qvres: the one installed beside this
plugin (cmake --install), the one of the source tree it lies in, or
whatever Python finds on sys.path (PYTHONPATH). The package finds
libqvres itself; QVRES_LIBRARY names another one."""
import os
import sys
import weakref

import numpy as np
from vtkmodules.util import numpy_support
from vtkmodules.util.vtkAlgorithm import VTKPythonAlgorithmBase
from vtkmodules.vtkCommonCore import vtkDataArraySelection, vtkOutputWindow, vtkPoints, vtkUnsignedCharArray
try:
    from vtkmodules.vtkCommonCore import vtkWeakReference
except ImportError:  # a VTK without it
    vtkWeakReference = None
from vtkmodules.vtkCommonDataModel import (vtkCellArray, vtkCompositeDataSet, vtkDataObject, vtkDataSetAttributes,
                                            vtkMultiBlockDataSet, vtkStructuredGrid, vtkUnstructuredGrid)
from vtkmodules.vtkCommonExecutionModel import vtkStreamingDemandDrivenPipeline

# The install writes the package's directory here, relative to this file;
# in the source tree the placeholder stays.
_INSTALLED_PACKAGE_DIR = "@QVRES_PLUGIN_TO_PACKAGE@"

_HERE = os.path.dirname(os.path.abspath(__file__)) if "__file__" in globals() else os.getcwd()

paraview_plugin_name = "QvresReader"
paraview_plugin_version = "1.0"


def _package_dirs():
    """Directories holding the qvres package meant for this plugin, best first."""
    dirs = []
    if not _INSTALLED_PACKAGE_DIR.startswith("@"):
        dirs.append(os.path.normpath(os.path.join(_HERE, _INSTALLED_PACKAGE_DIR)))
    dirs.append(os.path.normpath(os.path.join(_HERE, os.pardir, "python")))
    return [d for d in dirs if os.path.isfile(os.path.join(d, "qvres", "__init__.py"))]


def _import_qvres():
    """The qvres package; ImportError with what to set when it is missing."""
    if "qvres" not in sys.modules:
        for d in _package_dirs()[:1]:
            if d not in sys.path:
                sys.path.insert(0, d)
    try:
        import qvres
        qvres.library_version()  # loads the library
    except ImportError as e:
        raise ImportError(f"the Python package qvres or its library cannot be loaded ({e}); add the "
                          "directory holding qvres/ to PYTHONPATH, or set QVRES_LIBRARY to libqvres.so.2") from e
    return qvres


# ParaView's registration, applied only inside ParaView: with plain VTK the
# decorators do nothing.
class _Inert:
    def __getattr__(self, name):
        def decorator_factory(*args, **kwargs):
            return lambda f: f
        return decorator_factory


smproxy = smproperty = smdomain = smhint = _Inert()
if "paraview" in sys.modules:
    import inspect
    if not hasattr(inspect, "getargspec"):
        # ParaView 5.11.0 uses what Python 3.11 removed (see qvres_startup.py).
        inspect.getargspec = inspect.getfullargspec
    try:
        from paraview.util.vtkAlgorithm import smdomain, smhint, smproperty, smproxy  # noqa: F811
    except ImportError:
        pass


def _shown(name, number):
    """A block name from a part name, as qvres-to-vtk names the block:
    control characters (which would reach ParaView's panels and
    spreadsheets) as '?' (qvres.vtk_text, as for array names); "part N" for
    none."""
    import qvres
    return qvres.vtk_text(name) if name.strip(" ") else f"part {number}"


class StructuredBlock:
    """A structured part of I x J x K nodes as a vtkStructuredGrid of the
    same dimensions, I fastest as VTK orders points and cells: node (i, j,
    k) is point i + I (j + J k), cell (i, j, k) is the element between node
    layers i..i+1, j..j+1, k..k+1. The files store K fastest, so each array
    is transposed (the cells keep the corners and orientation of the
    hexahedra qvres-to-vtk --single-vtu writes). A part with an extent
    below 2 has nodes and no elements: its cells are VTK's (quadrilaterals
    of a plane), all hidden, without cell arrays."""

    def __init__(self, name, number, first_node, first_cell, extent, coordinates):
        self.name, self.number = name, number
        self.extent = tuple(int(x) for x in extent)
        i, j, k = self.extent
        self.nodes = slice(first_node, first_node + i * j * k)
        self.has_cells = min(self.extent) >= 2
        self.cell_extent = (i - 1, j - 1, k - 1)
        n_cells = (i - 1) * (j - 1) * (k - 1) if self.has_cells else 0
        self.cells = slice(first_cell, first_cell + n_cells)
        self.grid = vtkStructuredGrid()
        self.grid.SetDimensions(i, j, k)
        points = vtkPoints()
        points.SetData(_vtk_array(self.point_values(coordinates)))
        self.grid.SetPoints(points)
        if not self.has_cells:
            hidden = np.full(self.grid.GetNumberOfCells(), vtkDataSetAttributes.HIDDENCELL, np.uint8)
            self.grid.GetCellData().AddArray(_vtk_array(hidden, vtkDataSetAttributes.GhostArrayName()))

    @staticmethod
    def _transposed(values, extent):
        tail = values.shape[1:]
        return np.ascontiguousarray(values.reshape(extent + tail).transpose((2, 1, 0) + tuple(range(3, 3 + len(tail)))))\
            .reshape((-1,) + tail)

    def point_values(self, values):
        return self._transposed(values[self.nodes], self.extent)

    def cell_values(self, values):
        if not self.has_cells:
            return None
        return self._transposed(values[self.cells], self.cell_extent)


class UnstructuredBlock:
    """The unstructured elements of one part (part 0: those of none) as a
    vtkUnstructuredGrid of their cells in element order, with the nodes they
    use (in model node order) as its points."""

    def __init__(self, name, number, rows, cells, structured_elements, coordinates):
        self.name, self.number = name, number
        starts = cells.offsets[rows]
        counts = cells.offsets[rows + 1] - starts
        # Each cell's run of connectivity entries, in turn.
        used = cells.connectivity[np.repeat(starts - np.cumsum(counts) + counts, counts) + np.arange(counts.sum())]
        self.node_positions = np.unique(used)
        self.cell_positions = rows + structured_elements
        offsets = np.zeros(len(rows) + 1, np.int64)
        np.cumsum(counts, out=offsets[1:])
        array = vtkCellArray()
        array.SetData(numpy_support.numpy_to_vtkIdTypeArray(offsets, deep=1),
                      numpy_support.numpy_to_vtkIdTypeArray(np.searchsorted(self.node_positions, used), deep=1))
        types = vtkUnsignedCharArray()
        types.DeepCopy(numpy_support.numpy_to_vtk(cells.types[rows], deep=1,
                                                  array_type=numpy_support.get_vtk_array_type(np.uint8)))
        points = vtkPoints()
        points.SetData(_vtk_array(self.point_values(coordinates)))
        self.grid = vtkUnstructuredGrid()
        self.grid.SetPoints(points)
        self.grid.SetCells(types, array)

    def point_values(self, values):
        return values[self.node_positions]

    def cell_values(self, values):
        return values[self.cell_positions]


class Geometry:
    """What every time step shares: a block per part (the structured parts,
    then the unstructured ones, then the unstructured elements of no part
    when there are any), each part's number per cell, and the count of
    cells the element arrays give."""

    def __init__(self, analysis):
        from qvres import element_cells
        m = analysis.model
        cells = element_cells(analysis)
        coordinates = np.asarray(analysis.coordinates(), np.float32).reshape(-1, 3)
        self.points = len(coordinates)
        self.blocks = []
        parts = analysis.parts
        first_node = first_cell = 0
        structured_part = []
        for p in parts[:m.structured_parts]:
            block = StructuredBlock(_shown(p.name, p.number), p.number, first_node, first_cell,
                                    [max(int(x), 1) for x in p.extent], coordinates)
            self.blocks.append(block)
            structured_part.append(np.full(block.cells.stop - block.cells.start, p.number, np.int32))
            first_node += p.nodes  # the library's count of the part's nodes
            first_cell = block.cells.stop
        self.structured_elements = first_cell
        self.cells = first_cell + len(cells.types)
        self.part = np.concatenate(structured_part + [cells.part])
        names = {p.number: p.name for p in parts[m.structured_parts:]}
        numbers = [p.number for p in parts[m.structured_parts:]] + [0]
        for number in numbers:
            rows = np.flatnonzero(cells.part == number)
            if number == 0 and not len(rows):
                continue
            name = _shown(names[number], number) if number else "elements of no part"
            self.blocks.append(UnstructuredBlock(name, number, rows, cells, first_cell, coordinates))


def _vtk_array(values, name=None):
    """A VTK array holding a copy of `values`. (A VTK array over the numpy
    array itself would keep it through a Python attribute of the wrapper,
    which the garbage collector then walks: with thousands of arrays that
    costs more than the copies.)"""
    values = np.ascontiguousarray(values)
    array = numpy_support.numpy_to_vtk(values, deep=1)
    if name is not None:
        array.SetName(name)
    return array


def catalogue(analysis, variables):
    """The arrays a cycle with result directory `variables` offers, in the
    order qvres-to-vtk writes them: (name, "point" or "cell", source,
    column). Arrays of one source are read together: ("displacement",),
    ("node", v), ("vector", vx, vy, vz), ("tensor", xx, yy, zz, xy, yz,
    xz), ("element", v) (column None, or for a multi-material variable -1
    for the element's own value and c for the c-th reported material),
    ("fraction", material number), ("part",)."""
    from qvres import ArrayNames, component_groups
    names = ArrayNames()
    out = [(names.unique("displacement"), "point", ("displacement",), None)]
    # Node vectors and the symmetric tensors of the catalogue as one array.
    groups = {g.members[0]: g for g in component_groups(variables)
              if not g.members[0].integer and (g.kind == "tensor" or g.members[0].location == "node")}
    members = {w for g in groups.values() for w in g.members[1:]}
    reported = analysis.reported_materials
    for v in variables:
        if v in members or v.location is None:
            continue
        where = "point" if v.location == "node" else "cell"
        if v in groups:
            g = groups[v]
            source, name = (g.kind,) + g.members, names(v._replace(name=g.name))
        else:
            source, name = ("element" if where == "cell" else "node", v), names(v)
        if where == "cell" and v.multi_material and reported:
            out.append((name, where, source, -1))
            out.extend((names.unique(f"{name}[{m.name}]"), where, source, c) for c, m in enumerate(reported))
        else:
            out.append((name, where, source, None))
    out.extend((names.unique(f"material_fraction[{m.name}]"), "cell", ("fraction", m.number), None)
               for m in analysis.materials)
    out.append((names.unique("part"), "cell", ("part",), None))
    return out


def _terminal_text(text):
    try:
        from qvres import terminal_text
    except ImportError:  # the package is what failed to load: no names of a file yet
        return "".join(c if c.isprintable() or c in "\n\t" else "?" for c in text)
    return terminal_text(text)


def _report_error(algorithm, text, warning=False):
    """An error (or a warning) as vtkErrorMacro (vtkWarningMacro) gives it:
    to the observers of ErrorEvent (WarningEvent) when there are any, else
    to the output window (ParaView's Output Messages)."""
    # The text names files and may quote names from them: it reaches a
    # terminal in pvpython.
    message = _terminal_text(f"{algorithm.GetClassName()} ({algorithm.__class__.__name__}): {text}")
    event = "WarningEvent" if warning else "ErrorEvent"
    if algorithm.HasObserver(event):
        algorithm.InvokeEvent(event, message)
    elif warning:
        vtkOutputWindow.GetInstance().DisplayWarningText("Warning: " + message + "\n")
    else:
        vtkOutputWindow.GetInstance().DisplayErrorText("ERROR: " + message + "\n")


def _modified_callback(algorithm):
    """Marks `algorithm` modified, without keeping it alive. ParaView holds
    the VTK object, not its Python wrapper, which comes and goes: a weak
    reference to the wrapper would die with the first one, so the VTK object
    is referred to where VTK allows it."""
    if vtkWeakReference is not None:
        ref = vtkWeakReference()
        ref.Set(algorithm)
        get = ref.Get
    else:
        get = weakref.ref(algorithm)

    def modified(*args):
        alg = get()
        if alg is not None:
            alg.Modified()
    return modified


class _Held:
    """What a reader holds for its analysis. Closed on a change of file and
    when VTK deletes the reader: the Python attributes of a VTK object that
    only VTK holds (as in ParaView) outlive the object until VTK drops them
    at some later time, and with them an open analysis and its cells."""

    __slots__ = ("analysis", "geometry", "lists", "steps")

    def __init__(self):
        self.analysis = self.geometry = self.lists = self.steps = None

    def close(self):
        analysis = self.analysis
        self.analysis = self.geometry = self.lists = self.steps = None
        if analysis is not None:
            analysis.close()


def _closer(held):
    def close(*args):
        try:
            held.close()
        except Exception:  # the object is going away: there is nothing left to report to
            pass
    return close


@smproxy.reader(name="QvresReader", label="Explicit-dynamics results (qvres)",
                extensions="qvres qvres_base", file_description="Explicit-dynamics results")
class QvresReader(VTKPythonAlgorithmBase):
    def __init__(self):
        super().__init__(nInputPorts=0, nOutputPorts=1, outputType="vtkMultiBlockDataSet")
        self._names = []  # the files given
        self._filename = None  # the one the analysis was opened from
        # The analysis, its cells (geometry), the arrays offered (lists:
        # name -> location) and the cycles offered as time steps (steps).
        self._held = _Held()
        self.AddObserver("DeleteEvent", _closer(self._held))
        self._show_eroded = False
        self._point_selection = vtkDataArraySelection()
        self._cell_selection = vtkDataArraySelection()
        # Whether each array name seen in a selection was ticked, also of
        # earlier files: a change of file keeps the choice of every name.
        self._ticked = {"point": {}, "cell": {}}
        for selection in (self._point_selection, self._cell_selection):
            selection.AddObserver("ModifiedEvent", _modified_callback(self))

    # ---- properties ------------------------------------------------------

    # ParaView passes a group of numbered files as a list: they belong to one
    # analysis, which the first opens.
    @smproperty.xml("""
        <StringVectorProperty name="FileNames" command="AddFileName" clean_command="RemoveAllFileNames"
                              number_of_elements="0" repeat_command="1" panel_visibility="never">
          <FileListDomain name="files"/>
          <Documentation>A file of the analysis: its base file or any cycle file.</Documentation>
          <Hints>
            <FileChooser extensions="qvres qvres_base" file_description="Explicit-dynamics results"/>
          </Hints>
        </StringVectorProperty>""")
    def AddFileName(self, name):
        self._names.append(os.fspath(name))
        self.Modified()

    def RemoveAllFileNames(self):
        if self._names:
            self._names = []
            self.Modified()

    def SetFileName(self, name):
        self.RemoveAllFileNames()
        if name is not None:
            self.AddFileName(name)

    def GetFileName(self):
        return self._names[0] if self._names else None

    @smproperty.doublevector(name="TimestepValues", information_only="1", si_class="vtkSITimeStepsProperty")
    def GetTimestepValues(self):
        analysis = self._held.analysis
        return [] if analysis is None else analysis.cycles.times[self._time_steps(analysis)].tolist()

    @smproperty.intvector(name="ShowErodedCells", label="Show Eroded Cells", default_values=0)
    @smdomain.xml("""<BooleanDomain name="bool"/>
        <Documentation>Draw the elements the solver has eroded (element variable EROSION not 0),
        which are hidden by default.</Documentation>""")
    def SetShowErodedCells(self, show):
        if bool(show) != self._show_eroded:
            self._show_eroded = bool(show)
            self.Modified()

    def GetShowErodedCells(self):
        return int(self._show_eroded)

    @smproperty.dataarrayselection(name="Point Arrays")
    def GetPointDataArraySelection(self):
        return self._point_selection

    @smproperty.dataarrayselection(name="Cell Arrays")
    def GetCellDataArraySelection(self):
        return self._cell_selection

    # ---- the analysis, kept between time steps ----------------------------

    def _close(self):
        self._held.close()

    def _open(self):
        name = self.GetFileName()
        if self._held.analysis is not None and name != self._filename:
            self._close()
        if self._held.analysis is None:
            self._filename = name
            if not name:
                raise ValueError("no file name given")
            qvres = _import_qvres()
            self._held.analysis = qvres.open(name)
        return self._held.analysis

    def _time_steps(self, analysis):
        """The cycles offered as time steps (positions), in time order: those
        whose time is a finite number. A damaged file may hold another, which
        no time step can stand for; the library orders the cycles on either
        side of a time that is not a number each on their own."""
        if self._held.steps is None:
            times = analysis.cycles.times
            finite = np.isfinite(times)
            steps = np.flatnonzero(finite)
            self._held.steps = steps[np.argsort(times[steps], kind="stable")]
            if not finite.all():
                left = ", ".join(f"{n} ({t})" for n, t in zip(analysis.cycles.numbers[~finite], times[~finite]))
                _report_error(self, f"{self._filename}: cycles whose time is not a finite number are not "
                                    f"offered as time steps: {left}", warning=True)
        return self._held.steps

    def _offered(self, analysis):
        """Name -> location of the arrays of the first and last cycles
        offered. A cycle whose result directory cannot be read (a cut or
        damaged file) is passed over with a warning for the next one inward:
        its own time step then fails with the error."""
        if self._held.lists is None:
            lists, failed = {}, set()
            steps = [int(k) for k in self._time_steps(analysis)]
            for order in (steps, steps[::-1]):
                for cycle in order:
                    if cycle in failed:
                        break  # the other end got here: no cycle in between reads
                    try:
                        directory = analysis.variables(cycle)
                    except Exception as e:  # any fault of a file is reported, never raised into the host
                        failed.add(cycle)
                        _report_error(self, f"cannot list the arrays of cycle {analysis.cycles.numbers[cycle]}: "
                                            f"{self._named(e)}", warning=True)
                        continue
                    for name, location, _, _ in catalogue(analysis, directory):
                        lists.setdefault(name, location)
                    break
            if not lists:
                lists = {"part": "cell"}
            self._held.lists = lists
        return self._held.lists

    def _named(self, error):
        """The text of `error`, led by the file opened unless it names that file."""
        text = str(error)
        if self._filename and _terminal_text(self._filename) not in text:
            text = f"{self._filename}: {text}"
        return text

    def _fail(self, what, error):
        _report_error(self, f"cannot {what}: {self._named(error)}")
        return 0

    # ---- the pipeline ----------------------------------------------------

    def RequestInformation(self, request, inInfo, outInfo):
        try:
            analysis = self._open()
            lists = self._offered(analysis)
        except Exception as e:  # any fault of a file is reported, never raised into the host
            self._close()
            # Nothing of the file opened before stays: neither its time steps
            # nor its cells.
            info = outInfo.GetInformationObject(0)
            info.Remove(vtkStreamingDemandDrivenPipeline.TIME_STEPS())
            info.Remove(vtkStreamingDemandDrivenPipeline.TIME_RANGE())
            output = vtkMultiBlockDataSet.GetData(outInfo, 0)
            if output is not None:
                output.Initialize()
            return self._fail("open", e)
        for selection, location in ((self._point_selection, "point"), (self._cell_selection, "cell")):
            names = [n for n, where in lists.items() if where == location]
            if any(not selection.ArrayExists(n) for n in names) or selection.GetNumberOfArrays() != len(names):
                ticked = self._ticked[location]
                ticked.update((selection.GetArrayName(k), bool(selection.GetArraySetting(k)))
                              for k in range(selection.GetNumberOfArrays()))
                selection.RemoveAllArrays()
                for n in names:
                    selection.AddArray(n, ticked.get(n, True))
        info = outInfo.GetInformationObject(0)
        times = analysis.cycles.times[self._time_steps(analysis)]
        info.Remove(vtkStreamingDemandDrivenPipeline.TIME_STEPS())
        info.Remove(vtkStreamingDemandDrivenPipeline.TIME_RANGE())
        if len(times):
            info.Set(vtkStreamingDemandDrivenPipeline.TIME_STEPS(), times.tolist(), len(times))
            info.Set(vtkStreamingDemandDrivenPipeline.TIME_RANGE(), [times[0], times[-1]], 2)
        return 1

    def _cycle_of(self, info, analysis):
        """The cycle shown at the requested time: the last time step at or
        before it (the nearest end outside them); None when none is offered."""
        steps = self._time_steps(analysis)
        if not len(steps):
            return None
        key = vtkStreamingDemandDrivenPipeline.UPDATE_TIME_STEP()
        if not info.Has(key):
            return int(steps[0])
        k = int(np.searchsorted(analysis.cycles.times[steps], info.Get(key), side="right")) - 1
        return int(steps[min(max(k, 0), len(steps) - 1)])

    def RequestData(self, request, inInfo, outInfo):
        info = outInfo.GetInformationObject(0)
        output = vtkMultiBlockDataSet.GetData(outInfo, 0)
        cycle = None
        try:
            analysis = self._open()
            cycle = self._cycle_of(info, analysis)
            wanted = self._wanted(analysis, cycle)
            eroded = self._erosion_entries(analysis, cycle)
            # The library bounds each count by the cycle file: a hostile one
            # is refused here, before the cells are built from the model.
            self._check_counts(analysis, cycle, wanted + [(None, "cell", ("element", v), None) for v in eroded])
            if self._held.geometry is None:
                self._held.geometry = Geometry(analysis)
            blocks = self._blocks(analysis, cycle, wanted, eroded)
        except Exception as e:  # any fault of a file is reported, never raised into the host
            what = "read" if cycle is None else f"read cycle {analysis.cycles.numbers[cycle]} of"
            return self._fail(what, e)
        output.ShallowCopy(blocks)
        if cycle is not None:
            output.GetInformation().Set(vtkDataObject.DATA_TIME_STEP(), float(analysis.cycles.times[cycle]))
        return 1

    def _wanted(self, analysis, cycle):
        """The catalogue entries of `cycle` enabled in the selections."""
        if cycle is None:
            return []
        selected = {"point": self._point_selection, "cell": self._cell_selection}
        return [(name, location, source, column)
                for name, location, source, column in catalogue(analysis, analysis.variables(cycle))
                if selected[location].ArrayIsEnabled(name)]

    def _erosion_entries(self, analysis, cycle):
        """The element arrays of `cycle` that mark eroded elements (the
        catalogue's integer variable EROSION; its node variable hides
        nothing), unless eroded cells are shown."""
        if cycle is None or self._show_eroded:
            return []
        import qvres
        entry = qvres.find_variable("EROSION", real=False)
        if entry is None:
            return []
        return [v for v in analysis.variables(cycle) if v.location == "element" and v.integer
                and v.index == entry.variable]

    def _check_counts(self, analysis, cycle, wanted):
        """Asks the count of every array `wanted` reads, reading none."""
        import qvres
        for source in dict.fromkeys(source for _, _, source, _ in wanted):
            kind = source[0]
            try:
                if kind == "displacement":
                    analysis.count("displacements", cycle)
                elif kind in ("node", "element"):
                    analysis.count(source[1], cycle, location=kind, part=abs(source[1].part))
                elif kind in ("vector", "tensor"):
                    for v in source[1:]:
                        analysis.count(v, cycle, location=v.location, part=abs(v.part))
                elif kind == "fraction":
                    analysis.count("material_fractions", cycle, part=source[1])
            except qvres.NotStoredError:
                pass  # read as absent

    def _blocks(self, analysis, cycle, wanted, eroded):
        """A multiblock dataset of the parts' blocks, named after the parts,
        with the arrays `wanted` of `cycle` (None: no cycles); the cells
        that the `eroded` arrays mark are hidden."""
        g = self._held.geometry
        grids = []
        for b in g.blocks:
            grid = b.grid.NewInstance()
            grid.ShallowCopy(b.grid)
            grids.append(grid)
        if cycle is None:
            wanted = [("part", "cell", ("part",), None)] if self._cell_selection.ArrayIsEnabled("part") else []
        read = {}
        for name, location, source, column in wanted:
            key = source[0] if source[0] in ("displacement", "part") else source
            if key not in read:
                read[key] = self._read(analysis, cycle, source)
            values = read[key]
            if values is None:
                continue  # not stored in this cycle
            if column is not None:
                values = values[..., column]
            if location == "cell" and len(values) != g.cells:
                raise ValueError(f"{len(values)} element values for {g.cells} cells")
            # A cycle that states another node count lays its node values
            # out for it: under the model's points they would be other
            # nodes' values.
            if location == "point" and len(values) != g.points:
                raise ValueError(f"{len(values)} node values for {g.points} points")
            for b, grid in zip(g.blocks, grids):
                if location == "point":
                    grid.GetPointData().AddArray(_vtk_array(b.point_values(values), name))
                else:
                    part = b.cell_values(values)
                    if part is not None:
                        grid.GetCellData().AddArray(_vtk_array(part, name))
        if eroded:
            hidden = np.zeros(g.cells, bool)
            for v in eroded:
                values = self._read(analysis, cycle, ("element", v))
                if values is not None:
                    if len(values) != g.cells:
                        raise ValueError(f"{len(values)} values of {v.name} for {g.cells} cells")
                    hidden |= values != 0
            ghosts = np.where(hidden, vtkDataSetAttributes.HIDDENCELL, 0).astype(np.uint8)
            for b, grid in zip(g.blocks, grids):
                part = b.cell_values(ghosts)
                if part is not None and part.any():
                    grid.GetCellData().AddArray(_vtk_array(part, vtkDataSetAttributes.GhostArrayName()))
        out = vtkMultiBlockDataSet()
        out.SetNumberOfBlocks(len(grids))
        for k, (b, grid) in enumerate(zip(g.blocks, grids)):
            out.SetBlock(k, grid)
            out.GetMetaData(k).Set(vtkCompositeDataSet.NAME(), b.name)
        if cycle is not None:
            # On the whole and on each block, as each file of the export holds them.
            time = _vtk_array(np.array([analysis.cycles.times[cycle]]), "TimeValue")
            number = _vtk_array(np.array([analysis.cycles.numbers[cycle]], np.int32), "CYCLE")
            for data in [out] + grids:
                data.GetFieldData().AddArray(time)
                data.GetFieldData().AddArray(number)
        return out

    def _read(self, analysis, cycle, source):
        """The values of `source` for every node or cell of the model."""
        import qvres
        kind = source[0]
        g = self._held.geometry
        try:
            if kind == "displacement":
                return analysis.displacements(cycle)
            if kind == "node":
                return analysis.node_values(source[1], cycle, part=abs(source[1].part))
            if kind == "element":
                return analysis.element_values(source[1], cycle, part=abs(source[1].part), cells=True)
            if kind in ("vector", "tensor"):
                # Components second: (n, 3 or 6), or (n, 6, columns) per material.
                return np.stack([analysis.node_values(v, cycle, part=abs(v.part)) if v.location == "node" else
                                 analysis.element_values(v, cycle, part=abs(v.part), cells=True)
                                 for v in source[1:]], axis=1)
            if kind == "fraction":
                fractions = analysis.material_fractions(source[1], cycle)
                column = np.full(g.cells, np.nan, np.float32)
                column[:len(fractions)] = fractions[:g.cells]
                return column
        except qvres.NotStoredError:
            return None
        return g.part
