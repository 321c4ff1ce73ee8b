"""libqvres through ctypes: finding the library, its records and functions,
and turning a status into an exception.

ctypes.CDLL releases the GIL for the duration of every foreign call, so
threads that each use their own cycle reader read in parallel."""
import ctypes
import os
import sys
import threading
from ctypes import POINTER, Structure, byref, c_char, c_char_p, c_double, c_float, c_int32, c_int64, c_void_p

from . import _text, errors

MAJOR = 2

if sys.platform == "darwin":
    _NAME = "libqvres.2.dylib"
elif sys.platform == "win32":
    _NAME = "qvres.dll"
else:
    _NAME = "libqvres.so.2"

_HERE = os.path.dirname(os.path.abspath(__file__))


class ErrorRecord(Structure):
    _fields_ = [("status", c_int32), ("message", c_char * 1024)]


class OpenOptions(Structure):
    _fields_ = [("prefix_rule", c_int32), ("clear_stale_lock", c_int32), ("max_inflated_bytes", c_int64)]


class ModelRecord(Structure):
    _fields_ = [
        ("structured_parts", c_int64), ("unstructured_parts", c_int64),
        ("structured_slots", c_int64), ("unstructured_nodes", c_int64), ("nodes", c_int64),
        ("unstructured_elements", c_int64), ("materials", c_int64), ("cycles", c_int64),
        ("skipped_files", c_int64), ("file_version", c_int32), ("unit_system", c_int32 * 3),
        ("symmetry", c_int32 * 2),
    ]


class PartRecord(Structure):
    _fields_ = [("name", c_char * 36), ("structured", c_int32), ("extent", c_int64 * 3),
                ("elements", c_int64), ("nodes", c_int64)]


class MaterialRecord(Structure):
    _fields_ = [("name", c_char * 36), ("body_name", c_char * 257), ("euler_id", c_int32),
                ("has_poisson", c_int32), ("poisson_ratio", c_float)]


class CycleRecord(Structure):
    _fields_ = [("number", c_int32), ("time", c_double)]


class SkippedRecord(Structure):
    _fields_ = [("path", c_char * 1024), ("reason", c_char * 1024)]


class VariableRecord(Structure):
    _fields_ = [("index", c_int32), ("part", c_int32), ("kind", c_int32), ("name", c_char * 101)]


class Request(Structure):
    _fields_ = [("values", c_int32), ("variable", c_int32), ("part", c_int32)]


class LayoutRecord(Structure):
    _fields_ = [("values", c_int64), ("columns", c_int64), ("blocks", c_int64),
                ("unstructured_first", c_int64), ("unstructured", c_int64),
                ("unstructured_columns", c_int64), ("at", c_int32)]


class CatalogueRecord(Structure):
    _fields_ = [("variable", c_int32), ("real", c_int32), ("name", c_char * 32),
                ("display_name", c_char * 32), ("identifier", c_char * 32),
                ("description", c_char * 128), ("unit", c_char * 32), ("exponents", c_int32 * 4),
                ("multi_material", c_int32), ("group", c_int32), ("component", c_int32),
                ("group_name", c_char * 32), ("members", c_int32), ("member", c_int32 * 6)]


class LayoutBlockRecord(Structure):
    _fields_ = [("part", c_int32), ("elements", c_int32), ("first", c_int64),
                ("extent", c_int64 * 3), ("origin", c_int64 * 3)]


class CellRecord(Structure):
    _fields_ = [("kind", c_int32), ("nodes", c_int32), ("vtk_type", c_int32)]


class NamesRecord(Structure):
    _fields_ = [("base_file", c_char * 1024), ("directory", c_char * 1024), ("run", c_char * 256),
                ("stem", c_char * 1024)]


# Value queries (qvres_values).
DISPLACEMENTS = 1
NODE_INTEGERS = 2
NODE_REALS = 3
ELEMENT_INTEGERS = 4
ELEMENT_REALS = 5
SUBLAYER_INTEGERS = 8
MATERIAL_FRACTIONS = 9

# Component groups of the catalogue (qvres_catalogue_entry.group).
GROUP_NONE, GROUP_VECTOR, GROUP_SYMMETRIC_TENSOR = 0, 1, 2

# Where the positions of a layout stand (qvres_layout.at).
AT_NODES, AT_ELEMENTS = 1, 2

# Result directory entry kinds.
NODE_INTEGER, NODE_REAL, ELEMENT_INTEGER, ELEMENT_REAL = 1, 2, -1, -2

_P = POINTER
_E = _P(ErrorRecord)
_SIGNATURES = {
    "qvres_version": (c_int32, []),
    "qvres_open": (c_int32, [c_char_p, _P(OpenOptions), _P(c_void_p), _E]),
    "qvres_close": (None, [c_void_p]),
    "qvres_get_model": (c_int32, [c_void_p, _P(ModelRecord), _E]),
    "qvres_get_part": (c_int32, [c_void_p, c_int64, _P(PartRecord), _E]),
    "qvres_get_part_elements": (c_int32, [c_void_p, c_int64, c_void_p, c_int64, _E]),
    "qvres_get_coordinates": (c_int32, [c_void_p, c_void_p, c_int64, _E]),
    "qvres_get_connectivity": (c_int32, [c_void_p, c_void_p, c_int64, _E]),
    "qvres_get_element_types": (c_int32, [c_void_p, c_void_p, c_int64, _E]),
    "qvres_get_material": (c_int32, [c_void_p, c_int64, _P(MaterialRecord), _E]),
    "qvres_get_cycle": (c_int32, [c_void_p, c_int64, _P(CycleRecord), _E]),
    "qvres_get_skipped_file": (c_int32, [c_void_p, c_int64, _P(SkippedRecord), _E]),
    "qvres_variable_unit": (c_int32, [c_int32, c_char_p, c_int64, _P(c_int32), _E]),
    "qvres_unit_powers": (c_int32, [_P(c_int32), _P(c_int32), _E]),
    "qvres_reader_open": (c_int32, [c_void_p, c_int64, _P(c_void_p), _E]),
    "qvres_reader_close": (None, [c_void_p]),
    "qvres_count_variables": (c_int32, [c_void_p, _P(c_int64), _E]),
    "qvres_get_variable": (c_int32, [c_void_p, c_int64, _P(VariableRecord), _E]),
    "qvres_count_values": (c_int32, [c_void_p, _P(Request), _P(c_int64), _E]),
    "qvres_read_int32": (c_int32, [c_void_p, _P(Request), c_void_p, c_int64, _E]),
    "qvres_read_float": (c_int32, [c_void_p, _P(Request), c_void_p, c_int64, _E]),
    "qvres_get_layout": (c_int32, [c_void_p, _P(Request), _P(LayoutRecord), _E]),
    "qvres_get_catalogue_variable": (c_int32, [c_int32, c_int32, _P(CatalogueRecord), _E]),
    "qvres_get_layout_block": (c_int32, [c_void_p, _P(Request), c_int64, _P(LayoutBlockRecord), _E]),
    "qvres_get_layout_column": (c_int32, [c_void_p, _P(Request), c_int64, _P(c_int32), _E]),
    "qvres_read_header_int32": (c_int32, [c_void_p, _P(Request), _P(c_int32 * 2), _E]),
    "qvres_read_header_float": (c_int32, [c_void_p, _P(Request), _P(c_float * 2), _E]),
    "qvres_count_catalogue": (c_int32, [c_int32, _P(c_int64), _E]),
    "qvres_get_catalogue_entry": (c_int32, [c_int32, c_int64, _P(CatalogueRecord), _E]),
    "qvres_find_variable": (c_int32, [c_int32, c_char_p, _P(CatalogueRecord), _E]),
    "qvres_get_cells": (c_int32, [c_void_p, c_void_p, c_int64, _E]),
    "qvres_get_names": (c_int32, [c_void_p, _P(NamesRecord), _E]),
}


def candidates():
    """Where the library is looked for, in order: the file QVRES_LIBRARY names
    (and only it, when set); beside the package; the library directory of the
    installation the package belongs to; the build tree of a source checkout
    (python/qvres -> build/); the system's loader search path."""
    named = os.environ.get("QVRES_LIBRARY")
    if named:
        # The command-line tools read the same variable as the path of
        # libresults_api: then the libqvres beside it is the one meant.
        if os.path.isdir(named):
            return [os.path.join(named, _NAME)]
        return [named, os.path.join(os.path.dirname(os.path.abspath(named)), _NAME)]
    found = [os.path.join(_HERE, _NAME)]
    try:
        from . import _installed
        found.append(os.path.normpath(os.path.join(_HERE, _installed.LIBRARY_DIR, _NAME)))
    except ImportError:
        pass
    found.append(os.path.normpath(os.path.join(_HERE, os.pardir, os.pardir, "build", _NAME)))
    found.append(_NAME)
    return found


_library = None
_library_lock = threading.Lock()


def library():
    """The loaded library, its functions typed; loaded on first use."""
    global _library
    with _library_lock:
        if _library is None:
            _library = _load()
        return _library


def _load():
    tried = []
    for path in candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(f"{path}: no such file")
            continue
        try:
            lib = ctypes.CDLL(path)
        except OSError as e:
            tried.append(f"{path}: {e}")
            continue
        if not hasattr(lib, "qvres_version"):
            tried.append(f"{path}: not libqvres (no qvres_version)")
            continue
        for name, (restype, argtypes) in _SIGNATURES.items():
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = restype, argtypes
        version = lib.qvres_version()
        if version // 10000 != MAJOR:
            raise ImportError(f"{path} is libqvres {version // 10000}.x; qvres needs {MAJOR}.x")
        return lib
    raise ImportError("cannot load libqvres (set QVRES_LIBRARY to its path); tried:\n  " + "\n  ".join(tried))


def call(fn, *args):
    """Calls a status-returning function with an error record as its last
    argument; raises the Error subclass of a failed status."""
    record = ErrorRecord()
    status = fn(*args, byref(record))
    if status != 0:
        raise errors.from_status(status, text(record.message))


def text(raw):
    return _text.from_file(raw)


# ---- Texts passed to the library, and fork -----------------------------------

def check_text(value, what):
    """Refuses a path or name the library would read only up to a NUL."""
    raw = os.fsencode(value) if isinstance(value, (str, bytes)) else value
    if b"\0" in raw:
        raise errors.ArgumentError(f"{value!r}: a {what} with a NUL character")


def _after_fork_in_child():
    # A thread of the parent may have held the lock at the fork; it does
    # not exist in the child, and would never release it.
    global _library_lock
    _library_lock = threading.Lock()


if hasattr(os, "register_at_fork"):
    os.register_at_fork(after_in_child=_after_fork_in_child)


# ---- Functions bound after the first release ---------------------------------

# Value queries of every slot as stored: T + E values after the header pair.
ELEMENT_INTEGERS_ALL_SLOTS = 6
ELEMENT_REALS_ALL_SLOTS = 7

_SIGNATURES.update({
    "qvres_status_text": (c_char_p, [c_int32]),
    "qvres_get_part_nodes": (c_int32, [c_void_p, c_int64, c_void_p, c_int64, _E]),
    "qvres_read_joint": (c_int32, [c_void_p, c_int32, c_int32, _P(c_float * 16), _E]),
    "qvres_read_rigid_body": (c_int32, [c_void_p, c_int32, _P(c_float * 12), _E]),
})


def int32(value, what, bits=32):
    """`value` as an int for an int32 (int64 with bits=64) argument or field;
    ArgumentError when it is not an integer or does not fit. ctypes itself
    keeps the low bits of a larger int, which would name another variable,
    part or position."""
    try:
        if getattr(value, "ndim", 0):  # int() takes an array of one value
            raise TypeError
        number = int(value)
    except (TypeError, ValueError, OverflowError):
        raise errors.ArgumentError(f"a {what} is an integer, not {value!r}") from None
    if number != value or _is_bool(value) or not -2**(bits - 1) <= number < 2**(bits - 1):
        raise errors.ArgumentError(f"no {what} {value!r}")
    return number


def _is_bool(value):
    """Whether `value` is True or False, numpy's included (int() takes both
    as 1 and 0)."""
    return isinstance(value, bool) or getattr(getattr(value, "dtype", None), "kind", None) == "b"


def int64(value, what):
    """`value` as an int for an int64 argument or field (see int32)."""
    return int32(value, what, 64)


def request(values, variable=0, part=0):
    """The Request record of a value query, its numbers checked: every query
    is built here."""
    return Request(int32(values, "value query"), int32(variable, "variable"), int32(part, "part"))


def status_text(status):
    """The library's short text of a status code ("damaged or truncated
    file", ...)."""
    raw = library().qvres_status_text(int32(status, "status"))
    return text(raw) if raw is not None else ""


def library_version():
    """(major, minor, patch) of the loaded libqvres; loads it, raising
    ImportError when it cannot be found."""
    v = library().qvres_version()
    return v // 10000, v // 100 % 100, v % 100


# ---- Histories and envelopes over cycles (libqvres 2.1) ----------------------

BY_VALUE, BY_POSITION = 0, 1
MAXIMUM, MINIMUM = 1, 2
# What an integer history holds where a cycle gave no value.
NO_INTEGER = -(2 ** 31)


class SeriesRecord(Structure):
    _fields_ = [("requests", POINTER(Request)), ("request_count", c_int64),
                ("positions", POINTER(c_int64)), ("position_count", c_int64), ("by", c_int32),
                ("column", c_int32), ("first_cycle", c_int64), ("last_cycle", c_int64),
                ("threads", c_int32), ("skip_failed_cycles", c_int32)]


class SeriesGapRecord(Structure):
    _fields_ = [("cycle", c_int64), ("request", c_int64), ("status", c_int32), ("message", c_char * 1024)]


_SIGNATURES.update({
    "qvres_count_history": (c_int32, [c_void_p, _P(SeriesRecord), _P(c_int64), _E]),
    "qvres_read_history_float": (c_int32, [c_void_p, _P(SeriesRecord), c_void_p, c_int64,
                                           _P(SeriesGapRecord), c_int64, _P(c_int64), _E]),
    "qvres_read_history_int32": (c_int32, [c_void_p, _P(SeriesRecord), c_void_p, c_int64,
                                           _P(SeriesGapRecord), c_int64, _P(c_int64), _E]),
    "qvres_count_envelope": (c_int32, [c_void_p, _P(SeriesRecord), _P(c_int64), _E]),
    "qvres_read_envelope": (c_int32, [c_void_p, _P(SeriesRecord), c_int32, c_void_p, c_void_p, c_int64,
                                      _P(SeriesGapRecord), c_int64, _P(c_int64), _E]),
})


# ---- Gauges (libqvres 2.2) ---------------------------------------------------

GAUGE_ELEMENTS, GAUGE_NODES = 1, 2


class GaugeRecord(Structure):
    _fields_ = [("part", c_int32), ("structured", c_int32), ("cell", c_int64 * 3), ("element", c_int64),
                ("slot", c_int64), ("node", c_int64), ("node_distance", ctypes.c_double)]


_SIGNATURES.update({
    "qvres_read_envelope_int32": (c_int32, [c_void_p, _P(SeriesRecord), c_int32, c_void_p, c_void_p, c_int64,
                                            _P(SeriesGapRecord), c_int64, _P(c_int64), _E]),
    "qvres_locate_points": (c_int32, [c_void_p, c_void_p, c_int64, c_int32, _P(GaugeRecord), c_int64,
                                      _P(c_int64), _E]),
})
