"""Every front end takes the format's facts from libqvres: a name typed by a
person resolves to the same directory entry in the Python package,
qvres-inspect, qvres-to-vtk and qvres-diff; and the front ends' sources hold
no copy of what the library answers (variable lists, cell kinds, base-file
names, name normalisers, plane-slot arithmetic)."""
import csv
import io
import os
import re
import sys
import unittest

from tooltest import BUILD_DIR, DIFF, INSPECT, SOURCE_DIR, TO_VTK, SampleTest, run
from vtu import Vtu

# The sample's entries, as tools/sample writes them: PRESSURE is real
# variable 64 of the elements, TASK NUMBER integer variable 35 of the nodes.
SPELLINGS = {
    "PRESSURE": ["PRESSURE", "pressure", " PRESSURE\t", "Pressure\r\n", "IVR_PRES", "ivr.pres"],
    "TASK_NUMBER": ["TASK_NUMBER", "task number", "Task.Number", " TASK NUMBER ", "IVI_TASK_NO"],
    # Catalogue names the sample does not store: none of them names an array.
    None: ["STN.RATE XX", "STN_RATE_XX", "stn rate xx", "PRES SURE", "PRESSURES", "TASK-NUMBER"],
}


class NameRule(SampleTest):
    TOOLS = ("QVRES_SAMPLE", "QVRES_INSPECT", "QVRES_TO_VTK", "QVRES_DIFF")

    def python_entries(self, name):
        sys.path.insert(0, os.path.join(SOURCE_DIR, "python"))
        os.environ.setdefault("QVRES_LIBRARY", os.path.join(BUILD_DIR, "libqvres.so.2"))
        import qvres
        with qvres.open(self.cycle) as a:
            return sorted({v.name for v in a.variables(0) if v.named(name)})

    def inspect_entries(self, name):
        rc, out, err = run(INSPECT, "values", self.cycle, "0", name, check=False)
        if rc != 0:
            self.assertIn("is not stored in", err)
            return []
        return [re.match(r"(\S+) \(", out).group(1)]

    def to_vtk_entries(self, name):
        out = self.path("vtk")
        rc, _, err = run(TO_VTK, "--single-vtu", "--steps", "0", "--vars", name, self.cycle, out, check=False)
        if rc != 0:
            self.assertIn("names no array", err)
            return []
        vtu = Vtu(os.path.join(out, "sample_run_0000.vtu"))
        return sorted(vtu.point_arrays() + vtu.cell_arrays())

    def diff_entries(self, name):
        # ',' separates the names of --ignore.
        _, out, _ = run(DIFF, "--ignore", name, "--csv", "-", self.cycle, self.cycle)
        rows = list(csv.DictReader(io.StringIO(out)))
        return sorted({r["array"] for r in rows if r["status"] == "ignored"})

    def test_every_front_end_resolves_a_spelling_to_the_same_entry(self):
        for expected, names in SPELLINGS.items():
            for name in names:
                want = [expected] if expected else []
                got = {"python": self.python_entries(name), "inspect": self.inspect_entries(name),
                       "to_vtk": self.to_vtk_entries(name), "diff": self.diff_entries(name)}
                self.assertEqual(got, dict.fromkeys(got, want), repr(name))


# What no front end may hold again: the library answers each of these.
FORBIDDEN = [
    (r"54\D{1,12}81\D{1,12}83", "a list of the multi-material variables"),
    (r"(?:ends_?with|compare|rfind)\s*\([^)\n]*(?:qvres_base|_base\.qvres)", "a base-file name rule"),
    (r"\.qvres_base[\"']\s*\)\s*(?:or|\|\|)", "a base-file name rule"),
    (r"size\(\)\s*-\s*11\b", "a base-file suffix length"),
    (r"\btypes?(?:_codes?)?\s*==\s*[123]\b|\bcase\s+[123]\s*:\s*(?:if|return)", "a cell table keyed by type codes"),
    (r"\bunstructured_kind\b|\bunstructured_cells\b|\b_unstructured_kinds\b", "a cell table keyed by type codes"),
    (r"conn(?:ectivity)?\s*\[\s*:,\s*[3-7]\s*\]|\be\[[3-7]\]\s*(?:==|>=)", "cell kinds from connectivity entries"),
    (r"_name_key|\bnormalised\s*\(", "a name normaliser"),
    (r"replace\(\s*[\"']\.[\"']\s*,\s*[\"']_[\"']\s*\)", "a name normaliser"),
    (r"startswith\(\s*[\"']X-[\"']|compare\(0,\s*2,\s*\"X-\"\)", "vector grouping by name"),
    (r"\breal_rows\b|j\s*\*\s*k\s+if\s+i\s*==\s*1", "plane-slot arithmetic"),
    (r"header_values", "the header pair counted into the values"),
]

# Programs that write files, and may name the files they write.
WRITERS = (os.path.join("tools", "sample"), os.path.join("tools", "writer"))


def sources():
    for top in ("tools", os.path.join("python", "qvres"), "paraview"):
        for root, _, files in os.walk(os.path.join(SOURCE_DIR, top)):
            if os.path.relpath(root, SOURCE_DIR).startswith(WRITERS):
                continue
            for f in files:
                if f.endswith((".cpp", ".h", ".py")):
                    yield os.path.join(root, f)


class NoCopies(unittest.TestCase):
    def test_the_patterns_catch_what_they_stand_for(self):
        # Each pattern on a line of the kind it forbids, as the front ends
        # once held them.
        caught = ["MULTI_MATERIAL = frozenset({54, 81, 83, 85, 86, 87, 88, 89})",
                  'if (ends_with(f.path, ".qvres_base") || ends_with(f.path, "_base.qvres"))',
                  "f.stem = f.path.substr(0, f.path.size() - 11);",
                  "solid, shell = types == 1, types == 2", "case 2: return e[3] == 0 ? Kind{kTriangle, 3}",
                  "Kind unstructured_kind(std::int32_t type_code, const std::int32_t* e) {",
                  "rules = [(solid & (conn[:, 7] >= 1), 1)]",
                  "return name.strip().replace(\".\", \"_\")", "def _name_key(name):",
                  'if v.kind == _lib.NODE_REAL and v.name.startswith("X-")',
                  "real_rows.append(np.full(j * k if i == 1 else len(block), i != 1))"]
        for line in caught:
            self.assertTrue(any(re.search(p, line) for p, _ in FORBIDDEN), line)

    def test_no_front_end_holds_a_copy_of_the_library(self):
        found = []
        for path in sources():
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    for pattern, what in FORBIDDEN:
                        if re.search(pattern, line):
                            found.append(f"{os.path.relpath(path, SOURCE_DIR)}:{number}: {what}: {line.strip()}")
        self.assertEqual(found, [])


if __name__ == "__main__":
    unittest.main()
