"""Shared by the Python tests: the programs CTest names in the environment,
analyses written once per session, and the 59 exports of libresults_api
through ctypes, the reference every array is checked against."""
import ctypes
import os
import subprocess
import sys

import numpy as np
import pytest

ENV = {name: os.environ.get(name, "") for name in
       ("QVRES_LIBRARY", "QVRES_RESULTS_API", "QVRES_SAMPLE", "QVRES_FIXTURE", "QVRES_TO_VTK",
        "QVRES_MAKE_CASE", "QVRES_BUILD_DIR", "QVRES_SOURCE_DIR")}


def tool(name):
    path = ENV[name]
    if not os.path.isfile(path):
        pytest.fail(f"{name} does not name a file: '{path}' (run through ctest)")
    return path


def run(*args):
    # The tools read QVRES_LIBRARY as the path of libresults_api: they find
    # it in the build tree themselves.
    env = {k: v for k, v in os.environ.items() if k != "QVRES_LIBRARY"}
    p = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=600, env=env)
    assert p.returncode == 0, f"{args} exited {p.returncode}:\n{p.stdout}\n{p.stderr}"
    return p.stdout


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    """A sample analysis: its directory."""
    d = tmp_path_factory.mktemp("sample") / "sample"
    run(tool("QVRES_SAMPLE"), d)
    return d


@pytest.fixture(scope="session")
def mixed(tmp_path_factory):
    """The fixture with a plane part and multi-material variables."""
    d = tmp_path_factory.mktemp("mixed") / "mixed"
    run(tool("QVRES_FIXTURE"), d)
    return d


@pytest.fixture(scope="session")
def hostile_names(tmp_path_factory):
    """The mixed model of tests/hostile with names holding terminal escapes,
    a raw C1 byte and spreadsheet formulas (make_case "names")."""
    if not ENV["QVRES_MAKE_CASE"]:
        pytest.skip("no hostile_make_case here (QVRES_MAKE_CASE)")
    d = tmp_path_factory.mktemp("hostile") / "names"
    run(tool("QVRES_MAKE_CASE"), "names", d)
    return d


def open_files(directory, base=True):
    """The files of `directory` this process holds open (the base file left
    out unless `base`)."""
    paths = []
    for fd in os.listdir("/proc/self/fd"):
        try:
            paths.append(os.readlink(f"/proc/self/fd/{fd}"))
        except OSError:
            pass
    return [p for p in paths if p.startswith(os.path.realpath(directory) + os.sep)
            and (base or not p.endswith("qvres_base"))]


def same_bits(a, b):
    """Equal values bit for bit (NaN included), and equal lengths."""
    a, b = np.ascontiguousarray(a), np.ascontiguousarray(b)
    return a.shape == b.shape and a.dtype.itemsize == b.dtype.itemsize and \
        np.array_equal(a.view(np.uint32 if a.dtype.itemsize == 4 else a.dtype),
                       b.view(np.uint32 if b.dtype.itemsize == 4 else b.dtype))


class Exports:
    """The 59 exports: one analysis per process, every argument by address.
    Array getters get a buffer larger than asked, filled with a marker, so a
    comparison also shows how many values were written."""

    MARK = -123456

    def __init__(self):
        self.lib = ctypes.CDLL(tool("QVRES_RESULTS_API"))
        self.lib.set_Startup()

    def __call__(self, name, *args):
        fn = getattr(self.lib, name)
        fn.restype = ctypes.c_bool
        refs = [ctypes.byref(ctypes.c_int32(a)) if isinstance(a, int) else a for a in args]
        assert fn(*refs), f"{name}{args} failed"

    def array(self, name, n, dtype, *args):
        """The values `name` writes, up to the first untouched marker slot
        among n + 16."""
        out = np.full(n + 16, self.MARK, dtype)
        self(name, *args, out.ctypes.data_as(ctypes.c_void_p))
        written = np.flatnonzero(out != dtype(self.MARK))
        return out[:written[-1] + 1 if len(written) else 0]

    def open(self, directory):
        cycle = sorted(p for p in os.listdir(directory) if p.endswith(".qvres") and "_base" not in p)[0]
        self("set_BaseFilename", 1, os.fsencode(os.path.join(directory, cycle)), os.fsencode(str(directory)))

    def text(self, name, width, *args):
        """A text field of `width` characters, trailing blanks removed."""
        field = ctypes.create_string_buffer(b" " * width)
        self(name, *args, field)
        return field.value.decode().rstrip()

    def count(self, name):
        n = ctypes.c_int32()
        self(name, ctypes.byref(n))
        return n.value


@pytest.fixture(scope="session")
def exports():
    return Exports()


@pytest.fixture(scope="session", autouse=True)
def package_from_environment():
    """The package and library under test are the ones CTest names."""
    import qvres
    assert os.path.realpath(qvres._lib.candidates()[0]) == os.path.realpath(tool("QVRES_LIBRARY"))
    if ENV["QVRES_SOURCE_DIR"]:
        assert os.path.dirname(qvres.__file__).startswith(os.path.join(ENV["QVRES_SOURCE_DIR"], "python"))
    sys.stdout.flush()
