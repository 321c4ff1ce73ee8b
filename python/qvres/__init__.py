"""qvres: the results of explicit-dynamics analyses as numpy arrays in SI
units, read through libqvres.

    import qvres
    with qvres.open("out/sample") as a:
        print(a.cycles.numbers, a.cycles.times)
        p = a.element_values("PRESSURE", -1)          # Pa, one per element
        t, v = a.history("PRESSURE", element=0)       # over every cycle

qvres.study.map(fn, paths, client=None) runs fn(analysis) over many
analyses, serially or on the workers of a dask.distributed client.

Threads may share an analysis; close() waits for the calls they are making.
Across os.fork an analysis belongs to the process that opened it: in the
child every call on it raises qvres.Error saying to open it anew there,
and nothing in the child waits on the parent's locks or closes the
parent's handles. Paths holding a NUL character raise ArgumentError.

Every fact of the file format comes from libqvres: catalogue() and
find_variable(name) give the variable catalogue and resolve a name by the
library's one rule (Analysis methods take names the same way);
Analysis.cells(), .layout(), .header_pair() and .names ask the library for
cell kinds, where values stand, the stored header pair and the run's names.

For meshes as qvres-to-vtk writes them: vtk_cells(analysis) gives every
cell in VTK terms, structured_cells(first, i, j, k) a structured part's
hexahedra, element_cells the unstructured elements' cells alone,
component_groups the vectors and tensors of a cycle's arrays (vector_axes
the node vectors alone) and ArrayNames their names.

Text from a file is decoded as the tools decode it (valid UTF-8, any other
byte as Latin-1). terminal_text(text) shows its control characters as
\\xNN, as every exception message of the package does; vtk_text(name) gives a
name as VTK reads it from qvres-to-vtk's files (control characters as '?').

The library is found through QVRES_LIBRARY, beside the package, in the
library directory of the installation the package belongs to, in the build
tree of a source checkout, or on the system's loader path."""
from . import study
from ._lib import NO_INTEGER, library_version, status_text
from ._text import terminal_text, vtk_text
from ._catalogue import CatalogueEntry, catalogue, catalogue_variable, find_variable
from ._mesh import (ArrayNames, ElementCells, Group, VtkCells, component_groups, element_cells, structured_cells,
                    vector_axes, vtk_cells)
from ._analysis import (Analysis, Cells, Cycles, History, Layout, LayoutBlock, Material, Model, Names, Part,
                        SkippedFile, UnitSystem, Variable, Envelope, Gap, Gauges, open)
from .errors import (ArgumentError, CapacityError, DamagedError, Error, LockedError, NoMemoryError,
                     NotFoundError, NotStoredError, UnreadableError)

__version__ = "2.3.1"

__all__ = ["open", "Analysis", "Cells", "Cycles", "History", "Layout", "LayoutBlock", "Material", "Model",
           "Names", "Part", "SkippedFile", "UnitSystem", "Variable", "study", "Error", "ArgumentError",
           "CapacityError", "DamagedError", "LockedError", "NoMemoryError", "NotFoundError",
           "NotStoredError", "UnreadableError", "library_version", "status_text", "CatalogueEntry",
           "catalogue", "catalogue_variable", "find_variable", "ArrayNames", "Group", "VtkCells",
           "component_groups", "structured_cells", "vector_axes", "vtk_cells", "Envelope",
           "ElementCells", "element_cells", "Gap", "Gauges", "terminal_text", "vtk_text", "NO_INTEGER"]


def __getattr__(name):
    # MULTI_MATERIAL (the real variables with a value per material) is kept
    # for callers of 1.x; it asks the library's catalogue when first used,
    # so that importing the package loads no library.
    if name == "MULTI_MATERIAL":
        from ._catalogue import multi_material_variables
        return multi_material_variables()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
