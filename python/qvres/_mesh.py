"""A cycle of an analysis as a meshio.Mesh: the cells of qvres-to-vtk (the
hexahedra of the structured parts, then the unstructured elements by kind)
with the same point and cell data."""
from collections import namedtuple

import numpy as np

from . import _lib, errors
from ._text import vtk_text


def structured_cells(first, i, j, k):
    """Hexahedra of a structured part of I x J x K nodes whose first node is
    point `first`: cell (a, b, c) (its lowest corner, K fastest), corners in
    VTK order. (I-1)(J-1)(K-1) x 8 int64; none unless I, J, K >= 2."""
    if i < 2 or j < 2 or k < 2:
        return np.zeros((0, 8), np.int64)
    a, b, c = np.meshgrid(np.arange(i - 1), np.arange(j - 1), np.arange(k - 1), indexing="ij")
    low = first + (a.ravel() * j + b.ravel()) * k + c.ravel()
    di, dj = j * k, k
    corners = np.array([0, di, di + dj, dj, 1, di + 1, di + dj + 1, dj + 1], np.int64)
    return low[:, None] + corners[None, :]


class ArrayNames:
    """Array names as qvres-to-vtk gives them: the directory's name (VARn
    when it has none), _partN for a part other than 1, made unique, and as
    VTK reads them from its files (control characters as '?', see
    vtk_text)."""

    def __init__(self):
        self.seen = {}

    def unique(self, name):
        """`name`, or name_N for its N-th use."""
        n = self.seen[name] = self.seen.get(name, 0) + 1
        return vtk_text(name if n == 1 else f"{name}_{n}")

    def __call__(self, v):
        name = v.name or f"VAR{v.index}"
        return self.unique(name if abs(v.part) == 1 else f"{name}_part{abs(v.part)}")


Group = namedtuple("Group", "name kind members")
Group.__doc__ = """Directory entries that are the components of one vector or symmetric
tensor of the catalogue: `kind` "vector" or "tensor", `members` the entries
in component order (X, Y, Z; or XX, YY, ZZ, XY, YZ, XZ, VTK's order), all of
one kind and part, and `name` the catalogue's group name spelt as the
directory spells its members ("VELOCITY", "STN_RATE")."""


def _spelt(entry):
    # The directory shows a catalogue name with some characters replaced:
    # the group name takes the same replacements as its first member's name.
    if len(entry.name) != len(entry.display_name):
        return entry.group_name
    table = {a: b for a, b in zip(entry.name, entry.display_name) if a != b}
    return "".join(table.get(c, c) for c in entry.group_name)


def component_groups(variables):
    """The vectors and symmetric tensors among the entries of a result
    directory, as the library's catalogue groups the variables: Group
    records in the order of their first members. A group counts only when
    every member is stored, for the same part and of the same kind."""
    groups = []
    for v in variables:
        entry = v.catalogue if v.location else None
        if entry is None or entry.group is None or entry.component != 0:
            continue
        members = [next((w for w in variables if w.kind == v.kind and w.part == v.part and w.index == m), None)
                   for m in entry.members]
        if members[0] == v and all(members):
            groups.append(Group(_spelt(entry), entry.group, tuple(members)))
    return groups


def vector_axes(variables):
    """The node-real vectors of a directory, as qvres-to-vtk writes them
    (see component_groups): {X entry: [Y entry, Z entry]} and the set of
    the Y and Z entries taken."""
    vectors, axes = {}, set()
    for g in component_groups(variables):
        if g.kind == "vector" and g.members[0].kind == _lib.NODE_REAL:
            vectors[g.members[0]] = list(g.members[1:])
            axes.update(g.members[1:])
    return vectors, axes


VTK_HEXAHEDRON = 12  # VTK's type of the structured parts' cells

VtkCells = namedtuple("VtkCells", "types offsets connectivity part")
VtkCells.__doc__ = """Every cell of the model in VTK terms, in element order (the hexahedra of
the structured parts, K fastest, then the unstructured elements): VTK cell
`types` (uint8), `offsets` (int64, one more than the cells: cell c uses
connectivity[offsets[c]:offsets[c + 1]]), the point indices of the
`connectivity` (int64) and the `part` of each cell (int32, 0 none)."""


ElementCells = namedtuple("ElementCells", "types offsets connectivity part")
ElementCells.__doc__ = """The unstructured elements in VTK terms, in element order: VTK cell
`types` (uint8), `offsets` (int64, one more than the elements), the
`connectivity` as model node positions (int64: the structured slots come
first) and the `part` of each element (int32, 0 none)."""


def element_cells(a):
    """The unstructured elements of analysis `a` as the library's cell query
    gives them, as an ElementCells record. DamagedError names an
    element that uses a node the model does not have."""
    m = a.model
    cells = a.cells()
    conn = a.connectivity().astype(np.int64).reshape(-1, 8)
    if len(conn) != len(cells.kind):
        raise errors.DamagedError(f"{a.path}: {len(conn)} connectivity rows for {len(cells.kind)} elements")
    # A cell of a kind uses its first `nodes` entries, one of none its
    # entries that are not 0 (the library counts them as its nodes).
    taken = np.arange(8)[None, :] < cells.nodes[:, None]
    loose = cells.kind == 0
    taken[loose] = conn[loose] != 0
    bad = taken & ((conn < 1) | (conn > m.unstructured_nodes))
    if bad.any():
        e, s = np.argwhere(bad)[0]
        raise errors.DamagedError(f"{a.path}: unstructured element {e + 1} names node {conn[e, s]}, "
                                  f"but the model has {m.unstructured_nodes} unstructured nodes")
    part = np.zeros(len(cells.kind), np.int32)
    for p in a.parts[m.structured_parts:]:
        rows = a.part_elements(p.number)
        rows = rows[(rows >= 1) & (rows <= len(part))]
        part[rows - 1] = p.number
    offsets = np.zeros(len(cells.kind) + 1, np.int64)
    np.cumsum(taken.sum(axis=1), out=offsets[1:])
    return ElementCells(cells.vtk_type.astype(np.uint8), offsets, conn[taken] - 1 + m.structured_slots, part)


def vtk_cells(a):
    """The cells of analysis `a` as a VtkCells record: the structured parts'
    hexahedra (structured_cells), the unstructured elements as the library's
    cell query gives them (element_cells). DamagedError names an
    element that uses a node the model does not have."""
    m = a.model
    blocks, parts = [], []
    first = 0
    for p in a.parts[:m.structured_parts]:
        i, j, k = (max(int(x), 0) for x in p.extent)
        block = structured_cells(first, i, j, k)
        blocks.append(block)
        parts.append(np.full(len(block), p.number, np.int32))
        first += p.nodes  # the library's count of the part's nodes
    hexahedra = np.concatenate(blocks) if blocks else np.zeros((0, 8), np.int64)
    u = element_cells(a)
    parts.append(u.part)
    types = np.concatenate([np.full(len(hexahedra), VTK_HEXAHEDRON, np.uint8), u.types])
    offsets = np.concatenate([np.arange(len(hexahedra), dtype=np.int64) * 8, u.offsets + 8 * len(hexahedra)])
    connectivity = np.concatenate([hexahedra.ravel(), u.connectivity])
    return VtkCells(types, offsets, connectivity, np.concatenate(parts))


def joined_groups(variables):
    """The groups of component_groups that front ends give as one array:
    the node-real vectors and every real symmetric tensor. {first member:
    Group}, and the set of the other members taken."""
    groups = {g.members[0]: g for g in component_groups(variables)
              if not g.members[0].integer and (g.kind == "tensor" or g.members[0].kind == _lib.NODE_REAL)}
    return groups, {w for g in groups.values() for w in g.members[1:]}


# meshio's names of the VTK cell types it holds.
_MESHIO = {12: "hexahedron", 10: "tetra", 14: "pyramid", 13: "wedge", 5: "triangle", 9: "quad", 3: "line"}


def to_meshio(a, cycle):
    import meshio

    cells = vtk_cells(a)
    types = cells.types
    n_cells = len(types)
    unknown = ~np.isin(types, list(_MESHIO))
    if unknown.any():
        c = int(np.flatnonzero(unknown)[0])
        e = c - (n_cells - a.model.unstructured_elements)
        raise errors.Error(f"{a.path}: unstructured element {e + 1} (type code "
                           f"{a.element_types()[e]}) has no cell kind a meshio.Mesh can hold")
    n_structured = n_cells - a.model.unstructured_elements

    # Runs of one type, in element order, the structured cells apart: the
    # cell blocks.
    change = np.r_[True, types[1:] != types[:-1]] if n_cells else np.zeros(0, bool)
    if 0 < n_structured < n_cells:
        change[n_structured] = True
    starts = np.flatnonzero(change)
    ends = np.r_[starts[1:], n_cells].astype(int)
    blocks = []
    for s, e in zip(starts, ends):
        name = _MESHIO[int(types[s])]
        count = int(cells.offsets[s + 1] - cells.offsets[s])
        rows = cells.connectivity[cells.offsets[s]:cells.offsets[e]].reshape(-1, count)
        if name == "wedge":
            # VTK order; meshio orders a wedge's triangles the other way
            # round and turns them back when writing VTK.
            rows = rows[:, [0, 2, 1, 3, 5, 4]]
        blocks.append((name, rows))

    def split(values):
        return [values[s:e] for s, e in zip(starts, ends)]

    def cell_array(values):
        if len(values) != n_cells:
            raise errors.DamagedError(f"{a.path}: {len(values)} element values for {n_cells} cells")
        return split(values)

    names = ArrayNames()
    point_data = {names.unique("displacement"): None}
    cell_data = {}
    variables = a.variables(cycle)
    groups, members = joined_groups(variables)

    def add_cells(name, values, tensor=False):
        if values.ndim == (2 if tensor else 1):
            cell_data[name] = cell_array(values)
            return
        # Multi-material: the element's own value, then each reported material's.
        cell_data[name] = cell_array(values[..., -1])
        for c, mat in enumerate(a.reported_materials):
            cell_data[names.unique(f"{name}[{mat.name}]")] = cell_array(values[..., c])

    for v in variables:
        if v in groups:
            g = groups[v]
            name = names(v._replace(name=g.name))
            if v.location == "node":
                point_data[name] = np.column_stack([a.node_values(w, cycle) for w in g.members])
            else:  # components second: (cells, 6) or, per material, (cells, 6, columns)
                add_cells(name, np.stack([a.element_values(w, cycle, cells=True) for w in g.members], axis=1),
                          tensor=True)
        elif v in members:
            continue
        elif v.location == "node":
            point_data[names(v)] = a.node_values(v, cycle)
        elif v.location == "element":
            add_cells(names(v), a.element_values(v, cycle, cells=True))
    for mat in a.materials:
        try:
            fractions = a.material_fractions(mat.number, cycle)
        except errors.NotStoredError:
            break
        column = np.full(n_cells, np.nan, np.float32)
        column[:len(fractions)] = fractions[:n_cells]
        cell_data[names.unique(f"material_fraction[{mat.name}]")] = split(column)
    cell_data[names.unique("part")] = split(cells.part)
    try:
        point_data["displacement"] = a.displacements(cycle)
    except errors.NotStoredError:
        del point_data["displacement"]  # as qvres-to-vtk: a cycle without displacements has no such array
    field_data = {"TimeValue": np.array([a.cycles.times[cycle]]),
                  "CYCLE": np.array([a.cycles.numbers[cycle]], np.int32)}
    return meshio.Mesh(a.coordinates(), blocks, point_data=point_data, cell_data=cell_data,
                       field_data=field_data)
