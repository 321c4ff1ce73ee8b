"""A cycle of an analysis as a meshio.Mesh: the cells of qvres-to-vtk (the
hexahedra of the structured parts, then the unstructured elements by kind)
with the same point and cell data."""
import numpy as np

from . import _lib, errors

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


# meshio type and node count of the unstructured kinds.
_KINDS = {1: ("hexahedron", 8), 2: ("tetra", 4), 3: ("pyramid", 5), 4: ("wedge", 6),
          5: ("triangle", 3), 6: ("quad", 4), 7: ("line", 2)}


def _unstructured_kinds(types, conn):
    """Kind code (keys of _KINDS, 0 for none) of each unstructured element:
    solids by their first empty entry, shells by their fourth, beams."""
    kind = np.zeros(len(types), np.int8)
    solid, shell = types == 1, types == 2
    rules = [(solid & (conn[:, 7] >= 1), 1), (solid & (conn[:, 4] == 0), 2),
             (solid & (conn[:, 5] == 0), 3), (solid & (conn[:, 6] == 0), 4),
             (shell & (conn[:, 3] == 0), 5), (shell, 6), (types == 3, 7)]
    for mask, code in rules:
        kind[(kind == 0) & mask] = code
    return kind


class ArrayNames:
    """Array names as qvres-to-vtk gives them: the directory's name (VARn
    when it has none), _partN for a part other than 1, made unique."""

    def __init__(self):
        self.seen = {}

    def unique(self, name):
        n = self.seen[name] = self.seen.get(name, 0) + 1
        return name if n == 1 else f"{name}_{n}"

    def __call__(self, v):
        name = v.name or f"VAR{v.index}"
        return self.unique(name if abs(v.part) == 1 else f"{name}_part{abs(v.part)}")


def vector_axes(variables):
    """X-, Y- and Z-NAME node reals of one part, one vector NAME where the X
    entry stands, as qvres-to-vtk writes them: {X entry: [Y entry, Z entry]}
    and the set of the Y and Z entries taken."""
    def entry(like, name):
        return next((w for w in variables if w.kind == like.kind and w.part == like.part and w.name == name), None)

    vectors, axes = {}, set()
    for v in variables:
        if v.kind == _lib.NODE_REAL and v.name.startswith("X-") and len(v.name) > 2:
            yz = [entry(v, f"{axis}-{v.name[2:]}") for axis in "YZ"]
            if all(yz):
                vectors[v] = yz
                axes.update(yz)
    return vectors, axes


def to_meshio(a, cycle):
    import meshio

    m = a.model
    slots = m.structured_slots
    cells, part_of, kinds = [], [], []
    real_rows = []  # per row of a real element array: whether it is a cell
    first = 0
    for p in a.parts[:m.structured_parts]:
        i, j, k = (max(int(x), 0) for x in p.extent)
        if i >= 2 and j >= 2 and k >= 2:
            block = structured_cells(first, i, j, k)
            cells.append(block)
            kinds.append(np.full(len(block), 1, np.int8))
            part_of.append(np.full(len(block), p.number, np.int32))
            real_rows.append(np.ones(len(block), bool))
        elif i == 1:
            real_rows.append(np.zeros(j * k, bool))  # slots of a plane: values, no cells
        first += i * j * k
    n_structured = sum(len(c) for c in cells)

    conn = a.connectivity().astype(np.int64)
    kind = _unstructured_kinds(a.element_types(), conn)
    if (kind == 0).any():
        e = int(np.flatnonzero(kind == 0)[0])
        raise errors.Error(f"{a.path}: unstructured element {e + 1} (type code "
                           f"{a.element_types()[e]}) has no cell kind a meshio.Mesh can hold")
    unstructured_part = np.zeros(len(kind), np.int32)
    for p in a.parts[m.structured_parts:]:
        rows = a.part_elements(p.number)
        rows = rows[(rows >= 1) & (rows <= len(kind))]
        unstructured_part[rows - 1] = p.number
    nodes_of = np.array([0] + [_KINDS[c][1] for c in sorted(_KINDS)])[kind]
    used = np.arange(8)[None, :] < nodes_of[:, None]
    bad = used & ((conn < 1) | (conn > m.unstructured_nodes))
    if bad.any():
        e, s = np.argwhere(bad)[0]
        raise errors.DamagedError(f"{a.path}: unstructured element {e + 1} names node {conn[e, s]}, "
                                  f"but the model has {m.unstructured_nodes} unstructured nodes")
    kinds.append(kind)
    part_of.append(unstructured_part)
    real_rows.append(np.ones(len(kind), bool))
    kinds = np.concatenate(kinds) if kinds else np.zeros(0, np.int8)
    part_of = np.concatenate(part_of) if part_of else np.zeros(0, np.int32)
    real_rows = np.concatenate(real_rows)
    n_cells = len(kinds)

    # Runs of one kind, in element order, the structured cells apart: the
    # cell blocks.
    change = np.r_[True, kinds[1:] != kinds[:-1]] if n_cells else np.zeros(0, bool)
    if 0 < n_structured < n_cells:
        change[n_structured] = True
    starts = np.flatnonzero(change)
    ends = np.r_[starts[1:], n_cells].astype(int)
    hexahedra = np.concatenate(cells) if cells else np.zeros((0, 8), np.int64)
    blocks = []
    for s, e in zip(starts, ends):
        name, count = _KINDS[int(kinds[s])]
        if e <= n_structured:
            rows = hexahedra[s:e]
        else:
            rows = conn[s - n_structured:e - n_structured, :count] - 1 + slots
            if name == "wedge":
                # Entries are in VTK order; meshio orders a wedge's triangles
                # the other way round and turns them back when writing VTK.
                rows = rows[:, [0, 2, 1, 3, 5, 4]]
        blocks.append((name, rows))

    def split(values):
        return [values[s:e] for s, e in zip(starts, ends)]

    def cell_array(values, rows_are_real):
        if rows_are_real:
            if len(values) != len(real_rows):
                raise errors.DamagedError(f"{a.path}: {len(values)} element values for {len(real_rows)} rows")
            values = values[real_rows]
        if len(values) != n_cells:
            raise errors.DamagedError(f"{a.path}: {len(values)} element values for {n_cells} cells")
        return split(values)

    names = ArrayNames()
    point_data = {names.unique("displacement"): None}
    cell_data = {}
    variables = a.variables(cycle)
    vectors, axes = vector_axes(variables)
    for v in variables:
        if v in vectors:
            vector = v._replace(name=v.name[2:])
            point_data[names(vector)] = np.column_stack([a.node_values(w, cycle) for w in [v] + vectors[v]])
        elif v.location == "node" and v not in axes:
            point_data[names(v)] = a.node_values(v, cycle)
        elif v.location == "element":
            values = a.element_values(v, cycle)
            name = names(v)
            if values.ndim == 1:
                cell_data[name] = cell_array(values, not v.integer)
                continue
            cell_data[name] = cell_array(values[:, -1], True)
            for c, mat in enumerate(a.reported_materials):
                cell_data[names.unique(f"{name}[{mat.name}]")] = cell_array(values[:, c], True)
    for mat in a.materials:
        try:
            fractions = a.material_fractions(mat.number, cycle)
        except errors.NotStoredError:
            break
        column = np.full(n_cells, np.nan, np.float32)
        column[:len(fractions)] = fractions[:n_cells]
        cell_data[names.unique(f"material_fraction[{mat.name}]")] = split(column)
    cell_data[names.unique("part")] = split(part_of)
    try:
        point_data["displacement"] = a.displacements(cycle)
    except errors.NotStoredError:
        del point_data["displacement"]  # as qvres-to-vtk: a cycle without displacements has no such array
    field_data = {"TimeValue": np.array([a.cycles.times[cycle]]),
                  "CYCLE": np.array([a.cycles.numbers[cycle]], np.int32)}
    return meshio.Mesh(a.coordinates(), blocks, point_data=point_data, cell_data=cell_data,
                       field_data=field_data)
