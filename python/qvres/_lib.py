"""libqvres through ctypes: finding the library, its records and functions,
and turning a status into an exception.

ctypes.CDLL releases the GIL for the duration of every foreign call, so
threads that each use their own cycle reader read in parallel."""
import ctypes
import os
import sys
import threading
from ctypes import POINTER, Structure, byref, c_char, c_char_p, c_double, c_float, c_int32, c_int64, c_void_p

from . import errors

MAJOR = 1

if sys.platform == "darwin":
    _NAME = "libqvres.1.dylib"
elif sys.platform == "win32":
    _NAME = "qvres.dll"
else:
    _NAME = "libqvres.so.1"

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


# Value queries (qvres_values).
DISPLACEMENTS = 1
NODE_INTEGERS = 2
NODE_REALS = 3
ELEMENT_INTEGERS = 4
ELEMENT_REALS = 5
SUBLAYER_INTEGERS = 8
MATERIAL_FRACTIONS = 9

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
    "qvres_reader_open": (c_int32, [c_void_p, c_int64, _P(c_void_p), _E]),
    "qvres_reader_close": (None, [c_void_p]),
    "qvres_count_variables": (c_int32, [c_void_p, _P(c_int64), _E]),
    "qvres_get_variable": (c_int32, [c_void_p, c_int64, _P(VariableRecord), _E]),
    "qvres_count_values": (c_int32, [c_void_p, _P(Request), _P(c_int64), _E]),
    "qvres_read_int32": (c_int32, [c_void_p, _P(Request), c_void_p, c_int64, _E]),
    "qvres_read_float": (c_int32, [c_void_p, _P(Request), c_void_p, c_int64, _E]),
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
        raise errors.from_status(status, record.message.decode("utf-8", "replace"))


def text(raw):
    return raw.decode("utf-8", "replace")
