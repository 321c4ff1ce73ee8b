"""A build backend for `pip install ./python` without a network: it needs
nothing but the standard library, so pip has no build requirement to fetch.
The wheel holds the package's modules and the metadata of pyproject.toml."""
import base64
import hashlib
import os
import zipfile

try:
    import tomllib
except ImportError:  # Python < 3.11
    import tomli as tomllib

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_TAG = "py3-none-any"


def _project():
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _metadata(p):
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}",
             f"Summary: {p.get('description', '')}", f"Requires-Python: {p.get('requires-python', '>=3')}"]
    if "license" in p:
        lines.append(f"License: {p['license']['text']}")
    lines += [f"Classifier: {c}" for c in p.get("classifiers", [])]
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    for extra, deps in p.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f"Requires-Dist: {d}; extra == \"{extra}\"" for d in deps]
    return "\n".join(lines) + "\n"


def _dist_info(p):
    return f"{p['name']}-{p['version']}.dist-info"


def _dist_info_files(p):
    files = {"METADATA": _metadata(p), "top_level.txt": "qvres\n",
             "WHEEL": f"Wheel-Version: 1.0\nGenerator: qvres_backend\nRoot-Is-Purelib: true\nTag: {_TAG}\n"}
    # The project's licence travels with the wheel (absent only from a copy
    # of python/ taken out of the source tree).
    licence = os.path.join(os.path.dirname(_ROOT), "LICENSE")
    if os.path.exists(licence):
        with open(licence) as f:
            files["LICENSE"] = f.read()
    return files


def _write_dist_info(p, directory):
    files = _dist_info_files(p)
    os.makedirs(os.path.join(directory, _dist_info(p)), exist_ok=True)
    for name, text in files.items():
        with open(os.path.join(directory, _dist_info(p), name), "w") as f:
            f.write(text)
    return files


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    p = _project()
    _write_dist_info(p, metadata_directory)
    return _dist_info(p)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    p = _project()
    entries = []
    package = os.path.join(_ROOT, "qvres")
    for name in sorted(os.listdir(package)):
        # _installed.py belongs to an install by CMake only.
        if name.endswith(".py") and name != "_installed.py":
            with open(os.path.join(package, name), "rb") as f:
                entries.append((f"qvres/{name}", f.read()))
    info = _dist_info(p)
    files = _dist_info_files(p)
    entries += [(f"{info}/{name}", text.encode()) for name, text in files.items()]
    record = []
    for path, data in entries:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append(f"{path},sha256={digest},{len(data)}")
    record.append(f"{info}/RECORD,,")
    entries.append((f"{info}/RECORD", ("\n".join(record) + "\n").encode()))
    wheel = f"{p['name']}-{p['version']}-{_TAG}.whl"
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel), "w", zipfile.ZIP_DEFLATED) as z:
        for path, data in entries:
            z.writestr(zipfile.ZipInfo(path, (2020, 1, 1, 0, 0, 0)), data, zipfile.ZIP_DEFLATED)
    return wheel
