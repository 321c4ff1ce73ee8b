"""The package installed by CMake finds the installed library relative to
itself, where the system's python3 looks; pip installs it without a
package index."""
import importlib.util
import os
import re
import shutil
import subprocess
import sys

import pytest

from conftest import ENV, run, tool

PROBE = "import qvres; a = qvres.open({!r}); print(qvres._lib.library()._name, len(a.cycles))"
# The installed ParaView plugin finds the installed package by itself.
PLUGIN = ("import importlib.util\nfound = importlib.util.spec_from_file_location('p', {!r})\n"
          "m = importlib.util.module_from_spec(found); found.loader.exec_module(m)\n"
          "r = m.QvresReader(); r.SetFileName({!r}); r.Update()\nimport qvres\n"
          "print(qvres.__file__, qvres._lib.library()._name, r.GetOutputDataObject(0).GetNumberOfCells())")


def python(code, cwd, **env):
    environment = {k: v for k, v in os.environ.items() if k not in ("QVRES_LIBRARY", "PYTHONPATH")}
    environment.update(env)
    p = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd=cwd,
                       env=environment, timeout=120)
    assert p.returncode == 0, p.stderr
    return p.stdout.split()


def test_cmake_install(tmp_path, sample):
    build = ENV["QVRES_BUILD_DIR"]
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        configured = re.search(r"^CMAKE_INSTALL_PREFIX:PATH=(.*)$", f.read(), re.M).group(1)
    prefix = tmp_path / "prefix"
    run("cmake", "--install", build, "--prefix", prefix)
    [init] = prefix.rglob("qvres/__init__.py")
    [plugin] = prefix.rglob("paraview/qvres_reader.py")
    site = init.parent.parent
    # Installed under the configured prefix, the package is on python3's path.
    assert os.path.join(configured, site.relative_to(prefix)) in sys.path
    # And it loads the installed library, also once the tree has moved.
    moved = tmp_path / "moved"
    for root in (prefix, moved):
        if root == moved:
            shutil.move(prefix, moved)
        library, cycles = python(PROBE.format(str(sample)), tmp_path,
                                 PYTHONPATH=str(root / site.relative_to(prefix)))
        assert os.path.realpath(library).startswith(str(root) + os.sep) and int(cycles) == 12
        if root == prefix and importlib.util.find_spec("vtkmodules"):  # the plugin needs VTK
            package, library, cells = python(PLUGIN.format(str(plugin), str(sample)), tmp_path)
            assert package.startswith(str(prefix) + os.sep) and library.startswith(str(prefix) + os.sep)
            assert int(cells) > 0


def test_pip_install_without_an_index(tmp_path, sample):
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("pip is not installed for this python3")
    target = tmp_path / "target"
    source = os.path.join(ENV["QVRES_SOURCE_DIR"], "python")
    p = subprocess.run([sys.executable, "-m", "pip", "install", "--no-deps", "--no-index", "--target",
                        str(target), source], capture_output=True, text=True, timeout=300)
    assert p.returncode == 0, p.stdout + p.stderr
    assert not (target / "qvres" / "_installed.py").exists()
    # The wheel carries the project's licence and names it in its metadata.
    [info] = target.glob("qvres-*.dist-info")
    assert "License: BSD-3-Clause" in (info / "METADATA").read_text().splitlines()
    with open(os.path.join(ENV["QVRES_SOURCE_DIR"], "LICENSE")) as f:
        assert (info / "LICENSE").read_text() == f.read()
    library, cycles = python(PROBE.format(str(sample)), tmp_path, PYTHONPATH=str(target),
                             QVRES_LIBRARY=tool("QVRES_LIBRARY"))
    assert os.path.samefile(library, tool("QVRES_LIBRARY")) and int(cycles) == 12


def test_the_readme_example_runs(sample, capsys):
    with open(os.path.join(ENV["QVRES_SOURCE_DIR"], "README.md")) as f:
        section = f.read().split("## Python", 1)[1].split("\n## ", 1)[0]
    example = re.findall(r"```python\n(.*?)```", section, re.S)[0]
    exec(compile(example.replace('"out/sample"', repr(str(sample))), "README.md", "exec"), {})
    assert "Pa" in capsys.readouterr().out
