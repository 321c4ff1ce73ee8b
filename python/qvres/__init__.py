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

For meshes as qvres-to-vtk writes them: structured_cells(first, i, j, k)
gives a structured part's hexahedra, ArrayNames and vector_axes the names
and the vectors of the arrays of a cycle.

The library is found through QVRES_LIBRARY, beside the package, in the
library directory of the installation the package belongs to, in the build
tree of a source checkout, or on the system's loader path."""
from . import study
from ._lib import library_version, status_text
from ._mesh import ArrayNames, structured_cells, vector_axes
from ._analysis import (Analysis, Cycles, History, Material, Model, MULTI_MATERIAL, Part, SkippedFile,
                        UnitSystem, Variable, open)
from .errors import (ArgumentError, CapacityError, DamagedError, Error, LockedError, NoMemoryError,
                     NotFoundError, NotStoredError, UnreadableError)

__version__ = "1.0.0"

__all__ = ["open", "Analysis", "Cycles", "History", "Material", "Model", "MULTI_MATERIAL", "Part",
           "SkippedFile", "UnitSystem", "Variable", "study", "Error", "ArgumentError",
           "CapacityError", "DamagedError", "LockedError", "NoMemoryError", "NotFoundError",
           "NotStoredError", "UnreadableError", "library_version", "status_text", "ArrayNames",
           "structured_cells", "vector_axes"]

# Added with libqvres 2.1.
from ._analysis import Envelope  # noqa: E402

__all__ += ["Envelope"]
