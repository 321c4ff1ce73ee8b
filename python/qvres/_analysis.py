"""An opened analysis: the model, its cycles, and every stored quantity as a
numpy array in SI units."""
import contextlib
import ctypes
import os
import threading
import time
import weakref
from collections import namedtuple

import numpy as np

from . import _catalogue, _lib, errors
from ._lib import byref, call

Part = namedtuple("Part", "number name structured extent elements nodes")
Part.__doc__ = """A part of the model, numbered from 1 as the files number it: structured
parts (an I x J x K block of nodes, `extent` = (I, J, K)) first, then the
unstructured ones (`extent` None)."""

Material = namedtuple("Material", "number name body_name euler_id poisson_ratio")
Material.__doc__ = """A material, numbered from 1. `euler_id` is -1 when it has no Euler
material-fraction identifier; `poisson_ratio` is None when the base file
stores none."""

UnitSystem = namedtuple("UnitSystem", "length mass time")
UnitSystem.__doc__ = """The unit codes the model was written in. Every array this package returns is
already converted to SI units."""

SkippedFile = namedtuple("SkippedFile", "path reason")

Gap = namedtuple("Gap", "cycle time status message")
Gap.__doc__ = """A cycle (its position and time) that gave a history or envelope no value:
`status` the library's text of why ("not stored", "damaged or truncated
file", ...) and `message` naming the file."""


class History(namedtuple("History", "times values")):
    """A quantity over every cycle: times in seconds and one value (or one
    row of a multi-material variable) per cycle. `gaps` lists the cycles that
    gave no value (Gap records): those that do not store the variable and,
    with skip_failed_cycles, those whose file could not be read."""
    gaps = ()


class Envelope(namedtuple("Envelope", "values times cycles")):
    """Per position the extreme value over the cycles, and the time and cycle
    position where it first occurred. `gaps` as History.gaps."""
    gaps = ()


Gauges = namedtuple("Gauges", "points part structured cell element slot node node_distance")
Gauges.__doc__ = """Where points (metres, initial configuration; `points` P x 3 float64) lie, as
Analysis.locate finds them, one entry per point: the `part` of the element
holding it (0: none), whether it is a `structured` cell, that `cell`'s
1-based slot (i, j, k) in its part (P x 3), the unstructured `element`
(-1 otherwise), the element's `slot` among the values of slot_values (-1:
none), the nearest `node` and its `node_distance` in metres. Reusable:
pass it as history(at=...)."""

Model = namedtuple("Model", "structured_parts unstructured_parts structured_slots unstructured_nodes "
                            "nodes unstructured_elements materials cycles skipped_files file_version "
                            "unit_system symmetry")

Names = namedtuple("Names", "base_file directory run stem")
Names.__doc__ = """The names of an analysis's files as the library gives them: the base file
it was read from, its directory, the run name and the stem (directory and
run: cycle files are STEM_<n>.qvres)."""

Cells = namedtuple("Cells", "kind nodes vtk_type")
Cells.__doc__ = """The cell of every unstructured element, as the library tells it from the
type code and the connectivity: `kind` (the QVRES_CELL_ codes of qvres.h:
2 beam, 5 tetrahedron, 6 hexahedron, 7 pyramid, 8 wedge, 9 triangle,
10 quadrilateral, 0 none), `nodes` (the connectivity entries it uses: the
first `nodes` of its 8 for a kind, the non-zero ones for none) and
`vtk_type` (the VTK cell type; 2 a poly-vertex or 0 an empty cell for
none). Each an int32 array of E values."""

LayoutBlock = namedtuple("LayoutBlock", "part elements first extent origin")
LayoutBlock.__doc__ = """The values of one structured part in a Layout: `first` is the index of
its first value, `extent` the slots given along I, J, K (K fastest),
`origin` the 1-based slot of the part where they start ((2, 2, 2) for the
elements of a part with cells), `elements` whether every slot given is an
element (False for nodes, the slots of a plane part with I = 1, and
all-slot requests)."""

Layout = namedtuple("Layout", "values columns blocks unstructured_first unstructured unstructured_columns at "
                              "materials")
Layout.__doc__ = """Where the values of a request stand, as the library lays them out: the
structured blocks first (LayoutBlock each, `columns` values per position),
then `unstructured` positions of `unstructured_columns` values from index
`unstructured_first`. `values` is the count, `at` "node" or "element",
`materials` the material number of each column (0 for the element's own
value, the last column of a multi-material variable)."""

_KIND_NAMES = {_lib.NODE_INTEGER: "node", _lib.NODE_REAL: "node",
               _lib.ELEMENT_INTEGER: "element", _lib.ELEMENT_REAL: "element"}


class Variable(namedtuple("Variable", "name index part kind unit")):
    """An entry of a cycle's result directory: `name` as the directory spells
    it (dots and inner blanks as '_'), the variable `index`, the `part` the
    array is stored for, the entry `kind` (1 node integer, 2 node real,
    -1 element integer, -2 element real) and the SI `unit` text."""

    __slots__ = ()

    @property
    def location(self):
        """"node", "element", or None for entries that own no array."""
        return _KIND_NAMES.get(self.kind)

    @property
    def integer(self):
        """Whether the entry holds integers (else reals)."""
        return abs(self.kind) == 1

    @property
    def multi_material(self):
        """Whether the entry is a real element variable with a value per
        material (the catalogue says which)."""
        if self.kind != _lib.ELEMENT_REAL:
            return False
        entry = _catalogue.catalogue_variable(self.index)
        return entry is not None and entry.multi_material

    @property
    def catalogue(self):
        """The CatalogueEntry of the entry's variable; None for a variable
        the catalogue has no row for."""
        return _catalogue.catalogue_variable(self.index, real=not self.integer)

    def named(self, name):
        """Whether `name` names this entry: a name the catalogue knows (by
        the library's rule, see qvres.find_variable) names the entries of
        its variable; any other name only an entry spelt exactly so."""
        return _catalogue.names_entry(name, self.index, not self.integer, self.name)


class Cycles:
    """The registered cycles in time order: `numbers` (the solver's cycle
    numbers, int32) and `times` (seconds, float64). Methods take a cycle as
    its position here, 0 .. len - 1 (negative positions count from the end)."""

    def __init__(self, numbers, times):
        self.numbers = numbers
        self.times = times
        numbers.flags.writeable = times.flags.writeable = False

    def __len__(self):
        return len(self.numbers)

    def index(self, number):
        """The position of the cycle with solver cycle number `number`."""
        hits = np.flatnonzero(self.numbers == number)
        if not len(hits):
            raise errors.ArgumentError(f"no cycle number {number}")
        return int(hits[0])

    def __repr__(self):
        return f"Cycles(numbers={self.numbers!r}, times={self.times!r})"


class _Handle:
    """One thread's cycle reader: the open reader of cycle `cycle`, or none.
    `lock` is held while it is used, so that closing the analysis waits for
    a read in progress."""

    __slots__ = ("ptr", "cycle", "lock", "pid")

    def __init__(self):
        self.ptr, self.cycle, self.lock = None, -1, threading.Lock()
        self.pid = os.getpid()


class _ThreadSlot:
    """What the analysis keeps in a thread's local storage; when the thread
    ends it is dropped, and its finalizer closes the thread's reader."""

    __slots__ = ("handle", "scratch", "__weakref__")


def _release(lib, handle, handles, lock):
    if handle.pid != os.getpid():
        # A forked child dropping the slots of the parent's threads: the
        # lock may be held by a thread that does not exist here, and the
        # reader is the parent's.
        return
    with handle.lock:
        if handle.ptr:
            lib.qvres_reader_close(handle.ptr)
            handle.ptr = None
    with lock:
        handles.discard(handle)


# Seconds between tries of an open that found the run locked; None: give up.
_LOCK_PAUSES = (0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.3, 0.3, None)


class Analysis:
    """An analysis opened from any of its files or its directory; see
    qvres.open. Use it as a context manager, or call close()."""

    def __init__(self, path, *, prefix_rule=0, clear_stale_lock=False, max_inflated_bytes=0):
        self._handle = None
        self._pid = os.getpid()
        self._lock = threading.Lock()
        # Model calls in progress; close() waits for them to end.
        self._users = 0
        self._idle = threading.Condition(self._lock)
        self._handles = set()
        self._local = threading.local()
        self._directories = {}
        # prefix_rule is a switch: True and False are 1 and 0.
        if isinstance(prefix_rule, (bool, np.bool_)):
            prefix_rule = int(prefix_rule)
        self._options = dict(prefix_rule=_lib.int32(prefix_rule, "prefix rule"),
                             clear_stale_lock=bool(clear_stale_lock),
                             max_inflated_bytes=_lib.int64(max_inflated_bytes, "max_inflated_bytes"))
        if self._options["max_inflated_bytes"] < 0:
            raise errors.ArgumentError(f"max_inflated_bytes is 0 (the default) or more, not {max_inflated_bytes!r}")
        self.path = os.fspath(path)
        _lib.check_text(self.path, "path")
        # Pickled, the analysis is reopened by this path: relative, it would
        # name another run in a process with another working directory.
        self._absolute = _absolute(self.path)
        self._lib = lib = _lib.library()
        handle = ctypes.c_void_p()
        # An open of this run in another thread or process holds the run's
        # lock while it reads the base file, for a moment: wait up to about
        # a second for it before the run counts as locked.
        for pause in _LOCK_PAUSES:
            try:
                options = _lib.OpenOptions(self._options["prefix_rule"], int(self._options["clear_stale_lock"]),
                                           self._options["max_inflated_bytes"])
                call(lib.qvres_open, os.fsencode(self.path), byref(options), byref(handle))
                break
            except errors.LockedError:
                if pause is None:
                    raise
                time.sleep(pause)
        self._handle = handle.value
        try:
            self._load_model()
        except BaseException:
            self.close()
            raise

    def _load_model(self):
        lib, h = self._lib, self._handle
        m = _lib.ModelRecord()
        call(lib.qvres_get_model, h, byref(m))
        self.model = Model(m.structured_parts, m.unstructured_parts, m.structured_slots,
                           m.unstructured_nodes, m.nodes, m.unstructured_elements, m.materials,
                           m.cycles, m.skipped_files, m.file_version, tuple(m.unit_system),
                           tuple(m.symmetry))
        self.unit_system = UnitSystem(*m.unit_system)
        parts = []
        for p in range(1, m.structured_parts + m.unstructured_parts + 1):
            r = _lib.PartRecord()
            call(lib.qvres_get_part, h, p, byref(r))
            parts.append(Part(p, _lib.text(r.name), bool(r.structured),
                              tuple(r.extent) if r.structured else None, r.elements, r.nodes))
        self.parts = tuple(parts)
        materials = []
        for k in range(1, m.materials + 1):
            r = _lib.MaterialRecord()
            call(lib.qvres_get_material, h, k, byref(r))
            materials.append(Material(k, _lib.text(r.name), _lib.text(r.body_name), r.euler_id,
                                      r.poisson_ratio if r.has_poisson else None))
        self.materials = tuple(materials)
        numbers = np.empty(m.cycles, np.int32)
        times = np.empty(m.cycles, np.float64)
        for k in range(m.cycles):
            r = _lib.CycleRecord()
            call(lib.qvres_get_cycle, h, k, byref(r))
            numbers[k], times[k] = r.number, r.time
        self.cycles = Cycles(numbers, times)
        skipped = []
        for k in range(m.skipped_files):
            r = _lib.SkippedRecord()
            call(lib.qvres_get_skipped_file, h, k, byref(r))
            skipped.append(SkippedFile(_lib.text(r.path), _lib.text(r.reason)))
        self.skipped = tuple(skipped)
        r = _lib.NamesRecord()
        call(lib.qvres_get_names, h, byref(r))
        self.names = Names(_lib.text(r.base_file), _lib.text(r.directory), _lib.text(r.run), _lib.text(r.stem))

    # ---- life cycle ------------------------------------------------------

    def close(self):
        """Closes every thread's reader, then the analysis, once the calls
        other threads are making have ended; later calls raise qvres.Error.
        In a process forked from the one that opened it, forgets the
        analysis without closing anything of the parent's."""
        if not self._in_owner_process():
            self._handle = None
            return
        with self._lock:
            handle, self._handle = self._handle, None
            handles = list(self._handles)
            if handle is not None:
                self._idle.wait_for(lambda: self._users == 0)
        if handle is None:
            return
        for h in handles:
            _release(self._lib, h, self._handles, self._lock)
        self._lib.qvres_close(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None) is not None:
            self.close()

    def __reduce__(self):
        # Sent to another process, an analysis is opened there anew.
        return (_reopen, (self._absolute, self._options))

    def __repr__(self):
        state = "closed" if self._handle is None else f"{len(self.cycles)} cycles"
        return f"<qvres.Analysis {self.path!r}: {state}>"

    def _check_open(self):
        self._check_process()
        if self._handle is None:
            raise errors.Error(f"{self.path}: the analysis is closed")

    # ---- the handle across threads and processes --------------------------

    @contextlib.contextmanager
    def _using(self):
        """The analysis handle, kept open until the block ends: close()
        waits for every such block."""
        self._check_process()
        with self._lock:
            self._check_open()
            self._users += 1
            handle = self._handle
        try:
            yield handle
        finally:
            with self._lock:
                self._users -= 1
                if self._users == 0:
                    self._idle.notify_all()

    def _in_owner_process(self):
        return getattr(self, "_pid", None) == os.getpid()

    def _check_process(self):
        # Checked before any lock is taken: in a forked child a lock may be
        # held by a thread of the parent that does not exist there.
        if not self._in_owner_process():
            raise errors.Error(f"{self.path}: the analysis was opened in process {self._pid}, not in this "
                               f"one (a child forked from it): open it anew in this process")

    # ---- cycles and readers ------------------------------------------------

    def _cycle(self, cycle):
        n = len(self.cycles)
        try:
            index = int(cycle)
        except (TypeError, ValueError):
            raise errors.ArgumentError(f"a cycle is a position 0 .. {n - 1}, not {cycle!r}") from None
        if index != cycle or not -n <= index < n:
            raise errors.ArgumentError(f"{self.path}: no cycle {cycle!r} of {n}")
        return index % n

    @contextlib.contextmanager
    def _reader(self, cycle):
        """The calling thread's reader, opened on `cycle` (a position)."""
        self._check_process()
        slot = getattr(self._local, "slot", None)
        if slot is None:
            slot = _ThreadSlot()
            slot.handle, slot.scratch = _Handle(), None
            with self._lock:
                self._check_open()
                self._handles.add(slot.handle)
            weakref.finalize(slot, _release, self._lib, slot.handle, self._handles, self._lock)
            self._local.slot = slot
        h = slot.handle
        with h.lock:
            if h.ptr is None or h.cycle != cycle:
                if h.ptr:
                    self._lib.qvres_reader_close(h.ptr)
                    h.ptr = None
                ptr = ctypes.c_void_p()
                with self._lock:
                    self._check_open()
                    call(self._lib.qvres_reader_open, self._handle, cycle, byref(ptr))
                h.ptr, h.cycle = ptr.value, cycle
            yield h.ptr

    def _scratch(self, count, dtype):
        """The calling thread's buffer of at least `count` values, kept for
        the next history: reading into pages already touched is faster."""
        slot = self._local.slot
        if slot.scratch is None or slot.scratch.dtype != dtype or len(slot.scratch) < count:
            slot.scratch = np.empty(count, dtype)
        return slot.scratch[:count]

    def _count(self, reader, values, variable=0, part=0):
        request = _lib.request(values, variable, part)
        n = ctypes.c_int64()
        call(self._lib.qvres_count_values, reader, byref(request), byref(n))
        return n.value, request

    def _read_into(self, reader, request, out):
        fn = self._lib.qvres_read_int32 if out.dtype == np.int32 else self._lib.qvres_read_float
        call(fn, reader, byref(request), out.ctypes.data, len(out))

    def _layout(self, reader, request):
        layout = _lib.LayoutRecord()
        call(self._lib.qvres_get_layout, reader, byref(request), byref(layout))
        return layout

    def _read(self, cycle, values, variable=0, part=0, dtype=np.float32, layout=False):
        """A value query into a new array; with `layout`, the library's
        layout of it too (same reader)."""
        with self._reader(cycle) as r:
            n, request = self._count(r, values, variable, part)
            out = np.empty(n, dtype)
            self._read_into(r, request, out)
            return (out, self._layout(r, request)) if layout else out

    # ---- variables ---------------------------------------------------------

    def variables(self, cycle):
        """The result directory of `cycle`, as Variable records."""
        cycle = self._cycle(cycle)
        self._check_process()
        with self._lock:
            found = self._directories.get(cycle)
        if found is not None:
            return found
        entries = []
        with self._reader(cycle) as r:
            n = ctypes.c_int64()
            call(self._lib.qvres_count_variables, r, byref(n))
            for k in range(n.value):
                v = _lib.VariableRecord()
                call(self._lib.qvres_get_variable, r, k, byref(v))
                real = v.kind in (_lib.NODE_REAL, _lib.ELEMENT_REAL)
                unit = self._unit_of(v.index, False) if real else ""
                entries.append(Variable(_lib.text(v.name), v.index, v.part, v.kind, unit))
        found = tuple(entries)
        with self._lock:
            self._directories[cycle] = found
        return found

    def _unit_of(self, index, strict=True):
        text = ctypes.create_string_buffer(64)
        try:
            call(self._lib.qvres_variable_unit, index, text, len(text), None)
        except errors.ArgumentError:
            if strict:
                raise
            return None  # a variable the catalogue does not know
        return _lib.text(text.value)

    def _entry(self, variable, cycle, location, part=None):
        """The directory entry that `variable` (a name, an index or a
        Variable) names in `cycle` at `location` ("node", "element" or None
        for either). An index the directory does not list is passed to the
        library as a real variable, which says what is not stored."""
        variable, part = _asked(variable, part)
        entries = self.variables(cycle)
        hits, placed = _matches(entries, variable, location, part)
        if placed:
            return placed[0]
        what = f"{self.path}: cycle {self.cycles.numbers[cycle]}"
        if hits:
            raise errors.ArgumentError(f"{what}: {variable!r} is a {hits[0].location} variable, "
                                       f"not a {location} variable")
        if isinstance(variable, str):
            listed = ", ".join(dict.fromkeys(e.name for e in entries
                                             if e.location == location or location is None))
            raise errors.NotStoredError(f"{what} stores no {location + ' ' if location else ''}variable {variable!r}"
                                        f" (it stores {listed or 'none'})")
        kind = _lib.NODE_REAL if location == "node" else _lib.ELEMENT_REAL
        return Variable("", _lib.int32(variable, "variable"), 1 if part is None else part, kind, "")

    def _listed_entry(self, variable, first, last, location, part=None, skip_failed_cycles=False):
        """The entry `variable` names at `location` in the first of cycles
        first .. last whose directory lists it there, as the command-line
        tool resolves it: the cycles before it that do not store it are
        gaps, not errors. When no cycle lists it, the entry (or the error)
        of cycle `first`. With skip_failed_cycles a cycle whose file cannot
        be read is passed over here, as the library passes it over."""
        asked, wanted = _asked(variable, part)
        readable = None
        for cycle in range(first, last + 1):
            try:
                entries = self.variables(cycle)
            except (errors.DamagedError, errors.UnreadableError, errors.NotFoundError):
                if not skip_failed_cycles:
                    raise
                continue
            readable = cycle if readable is None else readable
            placed = _matches(entries, asked, location, wanted)[1]
            if placed:
                return placed[0]
        return self._entry(variable, first if readable is None else readable, location, part)

    def unit(self, variable, cycle=0):
        """The SI unit text of a variable ("Pa", "m/s", "" for dimensionless
        and integer variables), looked up in the directory of `cycle`;
        "m" for "coordinates" and "displacements"."""
        if isinstance(variable, str) and variable.casefold() in ("coordinates", "displacements"):
            return "m"
        if isinstance(variable, Variable):
            return variable.unit
        if not isinstance(variable, str) and not len(self.cycles):
            return self._unit_of(_lib.int32(variable, "variable"))
        entry = self._entry(variable, self._cycle(cycle), None)
        return entry.unit if entry.name or entry.integer else self._unit_of(entry.index)

    # ---- the model ---------------------------------------------------------

    def coordinates(self):
        """x, y, z of every node in model node order, metres: N x 3 float32."""
        n = 3 * self.model.nodes
        out = np.empty(n, np.float32)
        with self._using() as handle:
            call(self._lib.qvres_get_coordinates, handle, out.ctypes.data, n)
        return out.reshape(-1, 3)

    def connectivity(self):
        """8 node entries per unstructured element (0 = empty; entry n is node
        structured_slots + n - 1): E x 8 int32."""
        n = 8 * self.model.unstructured_elements
        return self._model_ints(self._lib.qvres_get_connectivity, n).reshape(-1, 8)

    def element_types(self):
        """The solver's type code of every unstructured element (1 solid,
        2 shell, 3 beam): E int32."""
        return self._model_ints(self._lib.qvres_get_element_types, self.model.unstructured_elements)

    def cells(self):
        """The cell of every unstructured element as the library tells it: a
        Cells record of three E int32 arrays (kind, nodes, vtk_type)."""
        n = self.model.unstructured_elements
        out = np.empty((n, 3), np.int32)
        with self._using() as handle:
            call(self._lib.qvres_get_cells, handle, out.ctypes.data, n)
        return Cells(out[:, 0].copy(), out[:, 1].copy(), out[:, 2].copy())

    def part_elements(self, part):
        """The 1-based connectivity rows of unstructured part `part`."""
        part = _lib.int64(part, "part")
        n = self.parts[part - 1].elements if 1 <= part <= len(self.parts) else 0
        return self._model_ints(self._lib.qvres_get_part_elements, n, part)

    def _model_ints(self, fn, n, *args):
        out = np.empty(n, np.int32)
        with self._using() as handle:
            call(fn, handle, *args, out.ctypes.data, n)
        return out

    @property
    def reported_materials(self):
        """The materials a multi-material variable reports, in column order:
        those with an Euler material-fraction identifier of 0 or more."""
        return tuple(m for m in self.materials if m.euler_id >= 0)

    # ---- values of a cycle -------------------------------------------------

    def displacements(self, cycle):
        """x, y, z displacement of every node, metres: N x 3 float32 (0 for a
        node without one)."""
        k = self._cycle(cycle)
        xyz = self._read(k, _lib.DISPLACEMENTS)
        if len(xyz) != 3 * self.model.nodes:
            # The cycle states other sizes than the base file: its
            # displacements cannot move the model's points.
            raise errors.DamagedError(f"{self.path}: cycle {self.cycles.numbers[k]} holds displacements of "
                                      f"{len(xyz) // 3} nodes where the model has {self.model.nodes}")
        return xyz.reshape(-1, 3)

    def node_values(self, variable, cycle, part=None):
        """One value per node in model node order (float32 in SI units, or
        int32): the array the library wrote. Real values of
        structured nodes are the averages of the cells around them."""
        cycle = self._cycle(cycle)
        v = self._entry(variable, cycle, "node", part)
        values = _lib.NODE_INTEGERS if v.integer else _lib.NODE_REALS
        return self._read(cycle, values, v.index, abs(v.part), np.int32 if v.integer else np.float32)

    def element_values(self, variable, cycle, part=None, cells=False):
        """One value per element in element order: the elements of each
        structured part (K fastest), then the unstructured elements. A
        structured part with I = 1 has no elements but gives real variables
        one value per slot (J x K). Multi-material variables give a 2-D
        array: a column per reported material (see reported_materials), then
        the element's own value; unstructured elements have only the last
        column (NaN in the others). `part` selects the stored array by the
        part it is stored for (default: the one the directory lists). With
        cells=True the values of plane slots, which are no elements, are left
        out (as the layout says): one row per cell in cell order."""
        cycle = self._cycle(cycle)
        v = self._entry(variable, cycle, "element", part)
        query = _lib.ELEMENT_INTEGERS if v.integer else _lib.ELEMENT_REALS
        out, raw = self._read(cycle, query, v.index, abs(v.part), np.int32 if v.integer else np.float32,
                              layout=True)
        if v.multi_material:
            out = self._material_table(out, raw)
        if cells:
            rows = _element_rows(self._layout_record(raw, cycle, query, v), len(out))
            out = out[rows]
        return out

    def _layout_record(self, raw, cycle, values, v):
        """The Layout of a request whose qvres_layout is `raw`."""
        request = _lib.request(values, v.index, abs(v.part))
        blocks, materials = [], []
        with self._reader(cycle) as r:
            for b in range(raw.blocks):
                x = _lib.LayoutBlockRecord()
                call(self._lib.qvres_get_layout_block, r, byref(request), b, byref(x))
                blocks.append(LayoutBlock(x.part, bool(x.elements), x.first, tuple(x.extent), tuple(x.origin)))
            for c in range(raw.columns):
                m = ctypes.c_int32()
                call(self._lib.qvres_get_layout_column, r, byref(request), c, byref(m))
                materials.append(m.value)
        at = {_lib.AT_NODES: "node", _lib.AT_ELEMENTS: "element"}.get(raw.at)
        return Layout(raw.values, raw.columns, tuple(blocks), raw.unstructured_first, raw.unstructured,
                      raw.unstructured_columns, at, tuple(materials))

    def _request_of(self, variable, cycle, part, location, all_slots):
        """The qvres_values query and the entry of a layout or header request."""
        if isinstance(variable, str) and variable.casefold() == "displacements":
            return _lib.DISPLACEMENTS, Variable("", 0, 0, 0, "")
        v = self._entry(variable, cycle, location, part)
        if v.location == "node":
            return (_lib.NODE_INTEGERS if v.integer else _lib.NODE_REALS), v
        if all_slots:
            return (_lib.ELEMENT_INTEGERS_ALL_SLOTS if v.integer else _lib.ELEMENT_REALS_ALL_SLOTS), v
        return (_lib.ELEMENT_INTEGERS if v.integer else _lib.ELEMENT_REALS), v

    def layout(self, variable, cycle, part=None, location=None, all_slots=False):
        """Where each value of node_values / element_values (slot_values with
        all_slots=True) of `variable` stands, as the library lays it out: a
        Layout record. `variable` may also be "displacements"; `location`
        ("node" or "element") picks between entries of one name."""
        cycle = self._cycle(cycle)
        values, v = self._request_of(variable, cycle, part, location, all_slots)
        request = _lib.request(values, v.index, abs(v.part))
        with self._reader(cycle) as r:
            raw = self._layout(r, request)
        return self._layout_record(raw, cycle, values, v)

    def count(self, variable, cycle, part=None, location=None, all_slots=False):
        """How many values node_values / element_values (slot_values with
        all_slots=True) of `variable` give, as the library bounds them by the
        cycle file, without reading them: DamagedError for a count beyond
        what the file can hold. `variable` may also be "displacements" (3
        per node) or "material_fractions" with `part` the material number."""
        cycle = self._cycle(cycle)
        if isinstance(variable, str) and variable.casefold() == "material_fractions":
            values, index, part = _lib.MATERIAL_FRACTIONS, 0, _lib.int32(part or 0, "material")
        else:
            values, v = self._request_of(variable, cycle, part, location, all_slots)
            index, part = v.index, abs(v.part)
        with self._reader(cycle) as r:
            return self._count(r, values, index, part)[0]

    def header_pair(self, variable, cycle, part=None, location=None, all_slots=False):
        """The two words stored before the values of a node or element array
        (no query returns them with the values): a tuple of two ints for an
        integer array, two floats for a real one."""
        cycle = self._cycle(cycle)
        values, v = self._request_of(variable, cycle, part, location, all_slots)
        if values == _lib.DISPLACEMENTS:
            raise errors.ArgumentError(f"{self.path}: displacements have no header pair")
        request = _lib.request(values, v.index, abs(v.part))
        pair = (ctypes.c_int32 * 2)() if v.integer else (ctypes.c_float * 2)()
        fn = self._lib.qvres_read_header_int32 if v.integer else self._lib.qvres_read_header_float
        with self._reader(cycle) as r:
            call(fn, r, byref(request), byref(pair))
        return tuple(pair)

    def _material_layout(self, layout):
        """Structured rows S and unstructured rows E of a multi-material
        array, as the library lays it out."""
        cols = len(self.reported_materials) + 1
        if layout.columns != cols:
            raise errors.DamagedError(f"{self.path}: {layout.columns} values per element where "
                                      f"{cols} materials and the element are reported")
        return layout.unstructured_first // cols, layout.unstructured

    def _material_table(self, out, layout):
        s, e = self._material_layout(layout)
        cols = len(self.reported_materials) + 1
        body = out
        if e == 0:
            return body.reshape(s, cols)
        table = np.full((s + e, cols), np.nan, np.float32)
        table[:s] = body[:s * cols].reshape(s, cols)
        table[s:, -1] = body[s * cols:]
        return table

    def material_fractions(self, material, cycle):
        """Volume fraction of `material` (number or name) in every element of
        the structured parts with I >= 2: float32."""
        if isinstance(material, str):
            named = [m.number for m in self.materials if m.name.casefold() == material.casefold()]
            if not named:
                raise errors.ArgumentError(f"{self.path}: no material {material!r}")
            material = named[0]
        return self._read(self._cycle(cycle), _lib.MATERIAL_FRACTIONS, 0, _lib.int32(material, "material"))

    def locate(self, points, elements=True, nodes=True):
        """Where each point (x, y, z in metres, in the initial configuration)
        lies: a Gauges record. With `elements` every point must lie in a
        solid (a structured cell or an unstructured hexahedron, wedge,
        pyramid or tetrahedron; on a shared face the first in element order),
        else ArgumentError names the point; with `nodes` each point's
        nearest node is found. The elements are binned once per call: give
        every point to one call."""
        xyz = np.ascontiguousarray(np.asarray(points, dtype=np.float64))
        if xyz.ndim == 1 and xyz.shape == (3,):
            xyz = xyz.reshape(1, 3)
        if xyz.ndim != 2 or xyz.shape[1] != 3:
            raise errors.ArgumentError(f"points are (x, y, z) triples, not an array of shape {xyz.shape}")
        find = (_lib.GAUGE_ELEMENTS if elements else 0) | (_lib.GAUGE_NODES if nodes else 0)
        if not find:
            raise errors.ArgumentError("locate finds elements, nodes or both")
        n = len(xyz)
        records = (_lib.GaugeRecord * max(n, 1))()
        with self._using() as handle:
            call(self._lib.qvres_locate_points, handle, xyz.ctypes.data, n, find, records, n, None)
        raw = np.ctypeslib.as_array(records)[:n]
        return Gauges(xyz, raw["part"].astype(np.int32), raw["structured"].astype(bool),
                      np.array(raw["cell"], np.int64).reshape(n, 3), raw["element"].astype(np.int64),
                      raw["slot"].astype(np.int64), raw["node"].astype(np.int64),
                      raw["node_distance"].astype(np.float64))

    def history(self, variable, node=None, element=None, part=None, cycles=None, threads=None, *, at=None,
                skip_failed_cycles=False):
        """The value of one node or one element (its 0-based position in
        node_values or element_values) at every cycle: History(times,
        values). Reads one array per cycle into a buffer the thread reuses.

        With a list of nodes or elements, `at` (points (x, y, z) in metres,
        or the Gauges of locate), `cycles` (a slice of the cycle positions),
        `threads` (a count; None, the default, or 0: one per core) or
        skip_failed_cycles, the library reads the range in one call, each
        cycle's array once, and `values` is cycles x positions (1-D for one
        position); a multi-material variable then gives each element's own
        value. A point gives the value of the element holding it (element
        variables) or of its nearest node (node variables).

        The variable is looked up in the first cycle of the range that
        lists it (at the location asked); a cycle that does not store it
        holds NaN (integers: NO_INTEGER; a row of NaN for a multi-material
        element) and is among `gaps`. A variable no cycle of the range
        lists raises as for that range's first cycle. A cycle whose file
        cannot be read fails the call naming the file, unless
        skip_failed_cycles, when it is a gap too."""
        if sum(x is not None for x in (node, element, at)) != 1:
            raise errors.ArgumentError("history needs one of node=, element= or at=")
        thread_count = _thread_count(threads)
        if at is not None:
            return self._gauge_history(variable, at, part, cycles, thread_count, skip_failed_cycles)
        # Nodes always through the library's call: it refuses a cycle whose
        # node values are not laid out as the model's nodes.
        if (cycles is not None or threads is not None or skip_failed_cycles or node is not None
                or not np.isscalar(element)):
            return self._series_history(variable, node, element, part, cycles, thread_count,
                                        skip_failed_cycles)
        location = "element"
        position = _lib.int64(element, location)
        n = len(self.cycles)
        if n == 0:
            return History(self.cycles.times.copy(), np.empty(0, np.float32))
        # Resolved as the library call resolves it: at the first cycle that
        # lists it; a cycle that does not store that array is a gap.
        v = self._listed_entry(variable, 0, n - 1, location, part)
        query = _lib.ELEMENT_INTEGERS if v.integer else _lib.ELEMENT_REALS
        dtype = np.int32 if v.integer else np.float32
        row = (len(self.reported_materials) + 1,) if v.multi_material else ()
        values = np.full((n,) + row, _lib.NO_INTEGER if v.integer else np.nan, dtype)
        gaps = []
        for cycle in range(n):
            with self._reader(cycle) as r:
                try:
                    count, request = self._count(r, query, v.index, abs(v.part))
                    buffer = self._scratch(count, dtype)
                    self._read_into(r, request, buffer)
                except errors.NotStoredError as e:
                    gaps.append(Gap(cycle, float(self.cycles.times[cycle]), _lib.status_text(e.status),
                                    e.message))
                    continue
                layout = self._layout(r, request) if v.multi_material else None
            values[cycle] = self._pick(buffer, position, layout)
        h = History(self.cycles.times.copy(), values)
        h.gaps = tuple(gaps)
        return h

    def _pick(self, out, position, layout):
        if layout is None:
            rows = len(out)
            if not 0 <= position < rows:
                raise errors.ArgumentError(f"{self.path}: no position {position} among {rows}")
            return out[position]
        s, e = self._material_layout(layout)
        cols = len(self.reported_materials) + 1
        if not 0 <= position < s + e:
            raise errors.ArgumentError(f"{self.path}: no element {position} among {s + e}")
        if position < s:
            return out[position * cols: (position + 1) * cols]
        row = np.full(cols, np.nan, np.float32)
        row[-1] = out[s * cols + position - s]
        return row

    def to_meshio(self, cycle):
        """The model and every array of `cycle` as a meshio.Mesh (needs
        meshio): points at their initial coordinates, cells in element
        order, node variables and "displacement" as point data, element
        variables (multi-material ones also per material as NAME[MATERIAL]),
        "material_fraction[NAME]" and "part" as cell data. The X, Y, Z
        node vectors and the symmetric tensors of the catalogue are one
        array each (3 components; 6 in VTK's order XX, YY, ZZ, XY, YZ, XZ).
        meshio has no structured grids: the structured parts stay
        hexahedra with explicit corners, one mesh for the whole model
        (qvres-to-vtk and the ParaView reader give them as structured
        blocks)."""
        from . import _mesh
        return _mesh.to_meshio(self, self._cycle(cycle))

    # ---- part nodes, every slot, joints and rigid bodies -------------------

    def part_nodes(self, part):
        """The nodes of unstructured part `part`, each once, in the order its
        elements first use them: int32 numbers as the connectivity gives
        them (entry n is node structured_slots + n - 1)."""
        part = _lib.int64(part, "part")
        n = self.parts[part - 1].nodes if 1 <= part <= len(self.parts) else 0
        return self._model_ints(self._lib.qvres_get_part_nodes, n, part)

    def slot_values(self, variable, cycle, part=None):
        """An element variable as the cycle stores it: one value per slot of
        every structured part (structured_slots values, in node order, the
        slots on a part's lowest I, J or K layer included though no element
        has them as its highest corner), then one per unstructured element.
        float32 in SI units, or int32. A multi-material variable gives the
        element's own value per slot."""
        cycle = self._cycle(cycle)
        v = self._entry(variable, cycle, "element", part)
        values = _lib.ELEMENT_INTEGERS_ALL_SLOTS if v.integer else _lib.ELEMENT_REALS_ALL_SLOTS
        return self._read(cycle, values, v.index, abs(v.part), np.int32 if v.integer else np.float32)

    def joint(self, joint, quantity, cycle):
        """Quantity `quantity` of joint `joint` in `cycle`, in SI units:
        quantities 1 .. 13 are triples (float32, 3) in global axes, -1 ..
        -13 the same triples in the joint's frame; quantity 11 is the frame
        itself, a 4 x 4 float32 matrix F whose columns F[:3, c] are the
        frame's axes. A joint the cycle does not hold, and quantity 0, give
        zeros."""
        joint, quantity = _lib.int32(joint, "joint"), _lib.int32(quantity, "joint quantity")
        record = (ctypes.c_float * 16)()
        with self._reader(self._cycle(cycle)) as r:
            call(self._lib.qvres_read_joint, r, joint, quantity, byref(record))
        out = np.ctypeslib.as_array(record).copy()
        # The frame is stored column by column.
        return out.reshape(4, 4).T.copy() if quantity == 11 else out[:3].copy()

    def rigid_body(self, body, cycle):
        """The motion of rigid body `body` up to `cycle`: a 4 x 4 float32
        matrix T such that T @ (x, y, z, 1) is where the body point first at
        (x, y, z) metres is now: the rotation in T[:3, :3], the translation
        in T[:3, 3]. A body the cycle does not hold gives the identity."""
        body = _lib.int32(body, "rigid body")
        record = (ctypes.c_float * 12)()
        with self._reader(self._cycle(cycle)) as r:
            call(self._lib.qvres_read_rigid_body, r, body, byref(record))
        values = np.ctypeslib.as_array(record)
        out = np.eye(4, dtype=np.float32)
        out[:3, :3] = values[:9].reshape(3, 3).T  # column by column
        out[:3, 3] = values[9:]
        return out

    # ---- histories and envelopes in one library call -----------------------

    def _range(self, cycles):
        n = len(self.cycles)
        if cycles is None:
            cycles = slice(None)
        if not isinstance(cycles, slice):
            raise errors.ArgumentError(f"cycles is a slice of the cycle positions, not {cycles!r}")
        try:
            picked = range(n)[cycles]
        except (TypeError, ValueError):  # a step of 0, a bound that is no integer
            raise errors.ArgumentError(f"{self.path}: cycles {cycles!r} is not a run of cycles of the {n}") \
                from None
        if len(picked) == 0 or picked.step != 1:
            raise errors.ArgumentError(f"{self.path}: cycles {cycles!r} is not a run of cycles of the {n}")
        return picked.start, picked.stop - 1

    def _series(self, request, positions, first, last, threads, skip_failed_cycles=False):
        record = _lib.SeriesRecord()
        record.requests = ctypes.pointer(request)
        record.request_count = 1
        if positions is not None:
            record.positions = positions.ctypes.data_as(ctypes.POINTER(ctypes.c_int64))
            record.position_count = len(positions)
        record.by = _lib.BY_POSITION
        record.first_cycle, record.last_cycle = first, last
        record.threads = _lib.int32(threads, "thread count")
        record.skip_failed_cycles = 1 if skip_failed_cycles else 0
        return record

    def _gap_records(self, first, last):
        """Room for every gap of a one-request series over cycles first .. last."""
        n = last - first + 1
        return (_lib.SeriesGapRecord * n)(), n, ctypes.c_int64()

    def _gaps(self, records, count):
        return tuple(Gap(int(g.cycle), float(self.cycles.times[g.cycle]), _lib.status_text(g.status),
                         _lib.text(g.message)) for g in records[:count.value])

    def _run_history(self, request, positions, by, integer, first, last, threads, skip_failed_cycles, single):
        record = self._series(request, positions, first, last, threads, skip_failed_cycles)
        record.by = by
        values = np.empty((last - first + 1, len(positions)), np.int32 if integer else np.float32)
        fn = self._lib.qvres_read_history_int32 if integer else self._lib.qvres_read_history_float
        gaps, room, count = self._gap_records(first, last)
        with self._using() as handle:
            call(fn, handle, byref(record), values.ctypes.data_as(ctypes.c_void_p), values.size, gaps, room,
                 byref(count))
        times = self.cycles.times[first:last + 1].copy()
        h = History(times, values[:, 0].copy() if single else values)
        h.gaps = self._gaps(gaps, count)
        return h

    def _series_history(self, variable, node, element, part, cycles, threads, skip_failed_cycles):
        location = "node" if node is not None else "element"
        asked = node if node is not None else element
        single = np.isscalar(asked)
        positions = _positions(asked, location)
        first, last = self._range(cycles)
        v = self._listed_entry(variable, first, last, location, part, skip_failed_cycles)
        if location == "node":
            query = _lib.NODE_INTEGERS if v.integer else _lib.NODE_REALS
        else:
            query = _lib.ELEMENT_INTEGERS if v.integer else _lib.ELEMENT_REALS
        request = _lib.request(query, v.index, abs(v.part))
        return self._run_history(request, positions, _lib.BY_POSITION, v.integer, first, last, threads,
                                 skip_failed_cycles, single)

    def _gauge_history(self, variable, at, part, cycles, threads, skip_failed_cycles):
        first, last = self._range(cycles)
        v = self._listed_entry(variable, first, last, None, part, skip_failed_cycles)
        if v.location is None:
            raise errors.ArgumentError(f"{self.path}: {variable!r} is neither a node nor an element variable")
        node = v.location == "node"
        if isinstance(at, Gauges):
            gauges = at
            # Checked as node=[...] is: a Gauges made by hand or by
            # _replace may hold 1.7 or a 2-D array.
            taken = _positions(gauges.node if node else gauges.slot, "node" if node else "element")
            if (taken < 0).any():
                p = int(np.argmax(taken < 0))
                raise errors.ArgumentError(f"{self.path}: point {p} {tuple(gauges.points[p])} has no "
                                           f"{'node' if node else 'element'} in these gauges")
        else:
            gauges = self.locate(at, elements=not node, nodes=node)
            taken = gauges.node if node else gauges.slot
        if len(taken) == 0:
            raise errors.ArgumentError("history needs one or more points")
        single = not isinstance(at, Gauges) and np.asarray(at).shape == (3,)
        # A point's element by its slot: every slot as stored, whatever parts
        # a cycle gives values for (multi-material variables: the element's
        # own value).
        if node:
            query = _lib.NODE_INTEGERS if v.integer else _lib.NODE_REALS
        else:
            query = _lib.ELEMENT_INTEGERS_ALL_SLOTS if v.integer else _lib.ELEMENT_REALS_ALL_SLOTS
        request = _lib.request(query, v.index, abs(v.part))
        positions = np.ascontiguousarray(taken, dtype=np.int64)  # int64 from locate or _positions
        return self._run_history(request, positions, _lib.BY_VALUE, v.integer, first, last, threads,
                                 skip_failed_cycles, single)

    def envelope(self, variable, extreme="max", cycles=None, threads=None, part=None, *,
                 skip_failed_cycles=False):
        """The largest ("max") or smallest ("min") value of every node or
        element of a variable over the cycles (a slice of the cycle
        positions; all by default): Envelope(values, times, cycles) with
        the time and cycle position where each first occurred; NaN (integer
        variables: NO_INTEGER) and -1 where no cycle gave a value. The
        values follow node_values or element_values, but for a
        multi-material variable they are the array as stored, 1-D in the
        order of its layout: every structured element's reported materials
        and own value, then one value per unstructured element (the rows
        of element_values run together, without the NaN material columns
        of the unstructured rows). The variable is looked up in the first
        cycle of the range that lists it; a cycle that does not store it
        is among the `gaps`. One library call reads each cycle once, on
        `threads` threads (None or 0: one per core). A cycle whose file
        cannot be read fails the call naming the file, unless
        skip_failed_cycles; the cycles passed over are the envelope's
        `gaps`."""
        if not isinstance(extreme, str) or extreme not in ("max", "min"):
            raise errors.ArgumentError(f"an envelope is 'max' or 'min', not {extreme!r}")
        thread_count = _thread_count(threads)
        first, last = self._range(cycles)
        v = self._listed_entry(variable, first, last, None, part, skip_failed_cycles)
        if v.location == "node":
            query = _lib.NODE_INTEGERS if v.integer else _lib.NODE_REALS
        else:
            query = _lib.ELEMENT_INTEGERS if v.integer else _lib.ELEMENT_REALS
        request = _lib.request(query, v.index, abs(v.part))
        record = self._series(request, None, first, last, thread_count, skip_failed_cycles)
        record.by = _lib.BY_VALUE
        n = ctypes.c_int64()
        gaps, room, count = self._gap_records(first, last)
        with self._using() as handle:
            call(self._lib.qvres_count_envelope, handle, byref(record), byref(n))
            values = np.empty(n.value, np.int32 if v.integer else np.float32)
            at = np.empty(n.value, np.int64)
            fn = self._lib.qvres_read_envelope_int32 if v.integer else self._lib.qvres_read_envelope
            call(fn, handle, byref(record),
                 _lib.MAXIMUM if extreme == "max" else _lib.MINIMUM, values.ctypes.data_as(ctypes.c_void_p),
                 at.ctypes.data_as(ctypes.c_void_p), n.value, gaps, room, byref(count))
        times = np.where(at >= 0, self.cycles.times[np.maximum(at, 0)], np.nan)
        e = Envelope(values, times, at)
        e.gaps = self._gaps(gaps, count)
        return e


def __getattr__(name):
    # MULTI_MATERIAL, kept for callers of 1.x, asks the library's catalogue
    # on first use rather than at import.
    if name == "MULTI_MATERIAL":
        return _catalogue.multi_material_variables()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _thread_count(threads):
    """The thread count of a library call: None (the default) and 0 are one
    per core; True and False are no counts."""
    if threads is None:
        return 0
    if isinstance(threads, (bool, np.bool_)):
        raise errors.ArgumentError(f"a thread count is an integer, not {threads!r}")
    return _lib.int32(threads, "thread count")


def _asked(variable, part):
    """A variable as a name or an index, and the part asked (None: any);
    a Variable gives its index and, unless a part is asked, its part."""
    if isinstance(variable, Variable):
        part = variable.part if part is None else part
        variable = variable.index
    if part is not None:
        part = _lib.int32(part, "part")
    if not isinstance(variable, str) and \
            (not isinstance(variable, (int, np.integer)) or isinstance(variable, (bool, np.bool_))):
        raise errors.ArgumentError(f"a variable is a name or an index, not {variable!r}")
    return variable, part


def _matches(entries, variable, location, part):
    """The directory entries naming `variable` (for `part`, if not None), and
    those of them at `location` (None: any)."""
    if isinstance(variable, str):
        hits = [e for e in entries if e.named(variable)]
    else:
        hits = [e for e in entries if e.index == variable]
    if part is not None:
        hits = [e for e in hits if abs(e.part) == abs(part)]
    return hits, [e for e in hits if location is None or e.location == location]


def _element_rows(layout, rows):
    """Which of `rows` positions of an element request are elements: the
    slots of plane blocks are not."""
    keep = np.ones(rows, bool)
    for b in layout.blocks:
        if not b.elements:
            first = b.first // max(layout.columns, 1)
            keep[first:first + int(np.prod(b.extent))] = False
    return keep


def _absolute(path):
    """`path` led by the working directory when relative, and otherwise as
    given: normalising "link/.." would name another directory than the
    system does."""
    if os.path.isabs(path):
        return path
    return os.path.join(os.getcwdb() if isinstance(path, bytes) else os.getcwd(), path)


def _positions(asked, location):
    """Node or element positions as int64, each an integer that fits: a
    plain int64 conversion would cut 1.7 to 1 and wrap 2**64 + 1."""
    raw = np.atleast_1d(np.asarray(asked))
    if raw.ndim != 1:
        raise errors.ArgumentError(f"{location} positions are a list, not an array of shape {raw.shape}")
    if len(raw) == 0:
        raise errors.ArgumentError(f"history needs one or more {location}s")
    if raw.dtype.kind == "i":
        return np.ascontiguousarray(raw, dtype=np.int64)
    # Unsigned and real arrays are checked whole; one that fails is gone
    # through position by position for the message naming the first.
    if raw.dtype.kind == "u" and raw.max() <= np.iinfo(np.int64).max:
        return raw.astype(np.int64)
    if raw.dtype.kind == "f":
        with np.errstate(invalid="ignore"):
            whole = np.isfinite(raw) & (raw == np.floor(raw)) & (raw >= -2.0**63) & (raw < 2.0**63)
        if whole.all():
            return raw.astype(np.int64)
    return np.array([_lib.int64(p, location) for p in raw.tolist()], np.int64)


def _reopen(path, options):
    return Analysis(path, **options)


def open(path, *, prefix_rule=0, clear_stale_lock=False, max_inflated_bytes=0):  # noqa: A001 - the entry point
    """Opens the analysis that `path` belongs to: a cycle file
    (STEM_<n>.qvres), a base file (STEM.qvres_base, STEM_base.qvres) or the
    directory holding its one base file. prefix_rule=1 registers every
    ".qvres" file of the run prefix instead of exactly STEM_<digits>.qvres.
    Raises NotFoundError, LockedError (when the run stays locked for about a
    second: another open of it holds the lock only while it reads the base
    file), UnreadableError or DamagedError. clear_stale_lock=True removes
    a reader's lock this library left behind in a process of this host that
    no longer runs, and opens the run (a solver's lock never).
    max_inflated_bytes bounds what the base file's arrays may inflate to
    (0: the library's default)."""
    return Analysis(path, prefix_rule=prefix_rule, clear_stale_lock=clear_stale_lock,
                    max_inflated_bytes=max_inflated_bytes)
