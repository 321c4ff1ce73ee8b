"""The Windows zip holds what a host developer needs, under one top
directory: both DLLs and the tools, the import libraries and .def files,
both headers, the CMake package and the pkg-config files, the licence and
the changelog; and nothing of the build machine (no Linux shared object, no
Python package, no Debian files).
Usage: python3 windows_zip_test.py ZIP"""
import sys
import zipfile

WANTED = ["bin/results_api.dll", "bin/qvres.dll", "bin/qvres-sample.exe", "bin/qvres-inspect.exe",
          "bin/qvres-to-vtk.exe", "bin/qvres-diff.exe", "lib/results_api.lib", "lib/qvres.lib",
          "lib/results_api.def", "lib/qvres.def", "include/results_api.h", "include/qvres.h",
          "lib/cmake/results_api/results_apiConfig.cmake",
          "lib/cmake/results_api/results_apiTargets.cmake",
          "lib/pkgconfig/results_api.pc", "lib/pkgconfig/qvres.pc", "LICENSE.txt", "CHANGELOG.md"]
UNWANTED = (".so", ".py", "/copyright", "changelog.gz")


def main(path):
    with zipfile.ZipFile(path) as z:
        names = [n for n in z.namelist() if not n.endswith("/")]
        tops = {n.split("/", 1)[0] for n in names}
        assert len(tops) == 1, f"more than one top directory: {sorted(tops)}"
        [top] = tops
        inside = {n.split("/", 1)[1] for n in names}
        missing = [w for w in WANTED if w not in inside]
        extra = [n for n in inside if n.endswith(UNWANTED)]
        for name in ("bin/results_api.dll", "bin/qvres.dll"):
            if name in inside:
                assert z.read(f"{top}/{name}")[:2] == b"MZ", f"{name} is no Windows program file"
        licence = z.read(f"{top}/LICENSE.txt").decode() if "LICENSE.txt" in inside else ""
    assert not missing, f"missing from {path}: {missing}"
    assert not extra, f"not for Windows: {extra}"
    assert "BSD 3-Clause" in licence
    print(f"{path}: {len(names)} files, all wanted ones there")


if __name__ == "__main__":
    main(sys.argv[1])
