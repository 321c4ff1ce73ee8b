"""The library's variable catalogue: every variable it knows, its names,
unit, whether it has a value per material, and the vector or tensor it is a
component of. Names given by a person are resolved here, by the library's
one rule, never by the package's own."""
import functools
from collections import namedtuple

from . import _lib, errors
from ._lib import byref

CatalogueEntry = namedtuple("CatalogueEntry", "variable real name display_name identifier description unit "
                                              "exponents multi_material group component group_name members")
CatalogueEntry.__doc__ = """A variable of the library's catalogue. `variable` is the index directory
entries carry, `real` whether it is of the real family (else the integer
one). `name` is the catalogue name ("X-VELOCITY"), `display_name` as result
directories spell it ("STN_RATE_XX"), `identifier` the constant ("IVR_UX").
`unit` is the SI unit ("" for integers and dimensionless reals), `exponents`
the powers of length, time, mass and temperature. `multi_material` says the
variable has a value per material in each structured element. `group` is
"vector" (components X, Y, Z), "tensor" (symmetric: XX, YY, ZZ, XY, YZ, XZ,
VTK's order) or None; `component` the position in it, `group_name` the name
without the component ("VELOCITY", "STN.RATE") and `members` the variable
indices of the group in component order (empty for none)."""

_GROUPS = {_lib.GROUP_VECTOR: "vector", _lib.GROUP_SYMMETRIC_TENSOR: "tensor"}


def _entry(record):
    members = tuple(record.member[:max(0, min(record.members, 6))])
    group = _GROUPS.get(record.group)
    return CatalogueEntry(record.variable, bool(record.real), _lib.text(record.name),
                          _lib.text(record.display_name), _lib.text(record.identifier),
                          _lib.text(record.description), _lib.text(record.unit), tuple(record.exponents),
                          bool(record.multi_material), group, record.component if group else None,
                          _lib.text(record.group_name) if group else "", members if group else ())


@functools.lru_cache(maxsize=None)
def _family(real):
    lib = _lib.library()
    count = _lib.c_int64()
    _lib.call(lib.qvres_count_catalogue, int(real), byref(count))
    out = []
    for k in range(count.value):
        record = _lib.CatalogueRecord()
        _lib.call(lib.qvres_get_catalogue_entry, int(real), k, byref(record))
        out.append(_entry(record))
    return tuple(out)


def catalogue(real=None):
    """Every variable the library's catalogue holds, as CatalogueEntry
    records in variable index order: the integer family, then the real one;
    real=True or False for one family."""
    if real is None:
        return _family(False) + _family(True)
    return _family(bool(real))


@functools.lru_cache(maxsize=None)
def _variable(real, index):
    record = _lib.CatalogueRecord()
    status = _lib.library().qvres_get_catalogue_variable(int(real), index, byref(record), None)
    return _entry(record) if status == 0 else None


def catalogue_variable(index, real=True):
    """The CatalogueEntry of variable index `index` of the real (or integer)
    family; None for an index the catalogue has no row for."""
    return _variable(bool(real), _lib.int32(index, "variable index"))


@functools.lru_cache(maxsize=4096)
def _find(real, name):
    record = _lib.CatalogueRecord()
    status = _lib.library().qvres_find_variable(int(real), name, byref(record), None)
    if status == 0:
        return _entry(record)
    if status == 2:  # QVRES_E_NOT_FOUND
        return None
    raise errors.from_status(status, f"cannot look up the variable name {name!r}")


def find_variable(name, real=True):
    """The CatalogueEntry a name stands for in the real (or integer) family,
    by the library's rule: the catalogue name, the display name or the
    identifier, blanks, tabs, CR and LF at either end ignored, letters of
    either case alike, and '.', '_' and blanks alike. None when no variable
    has that name."""
    if not isinstance(name, str):
        raise errors.ArgumentError(f"a variable name is a text, not {name!r}")
    _lib.check_text(name, "variable name")
    return _find(bool(real), name.encode("utf-8", "surrogateescape"))


def names_entry(name, index, real, display_name):
    """Whether the user's `name` names a directory entry of variable `index`
    (real or integer family) whose display name is `display_name`: a name
    the catalogue knows names the entries of its variable index; any other
    name only entries displayed exactly so."""
    found = find_variable(name, real)
    if found is not None:
        return found.variable == index
    return name == display_name


def multi_material_variables():
    """The real variables with a value per material, as the catalogue says."""
    return frozenset(e.variable for e in catalogue(True) if e.multi_material)
