"""The README's two host examples: the README shows examples/host.c and
examples/qvres_host.c word for word; the results_api.h example reads every
cycle of the sample, and the qvres.h example gives for each the peak
pressure the other gives, from every name of the run."""
import os
import re
import unittest

from tooltest import HOST_EXAMPLE, INSPECT, SOURCE_DIR, SampleTest, cycle_table, run

QVRES_EXAMPLE = os.environ.get("QVRES_QVRES_EXAMPLE", "")


class Examples(SampleTest):
    def test_readme_shows_each_example_verbatim(self):
        with open(os.path.join(SOURCE_DIR, "README.md")) as f:
            readme = f.read()
        for heading, example in (("## How a host links the library and the calling order", "host.c"),
                                 ("## The re-entrant interface: qvres.h", "qvres_host.c")):
            with self.subTest(example=example):
                section = readme.split(heading, 1)
                self.assertEqual(len(section), 2, f"the README has no section {heading}")
                block = re.search(r"```c\n(.*?)```", section[1], re.S)
                self.assertIsNotNone(block, f"{heading} has no C example")
                with open(os.path.join(SOURCE_DIR, "examples", example)) as f:
                    self.assertEqual(block.group(1), f.read())

    def test_both_examples_read_every_cycle_with_the_same_peaks(self):
        _, host, _ = run(HOST_EXAMPLE, self.cycle, self.sample)
        _, summary, _ = run(INSPECT, "summary", self.cycle)
        lines = host.strip().splitlines()
        self.assertEqual([int(re.match(r"cycle\s+(\d+)", l).group(1)) for l in lines],
                         [c for _, c, _ in cycle_table(summary)])
        self.assertTrue(all(float(l.split("peak pressure")[1].split()[0]) > 1e5 for l in lines))
        # The results_api.h example prints more per cycle: its lines up to
        # the peak pressure are the ones to match.
        expected = "".join(re.match(r".* Pa", line).group(0) + "\n" for line in lines)
        for opened in (self.sample, self.base, self.cycle):
            _, out, err = run(QVRES_EXAMPLE, opened)
            self.assertEqual((out, err), (expected, ""), opened)

    def test_a_missing_analysis_is_named(self):
        code, _, err = run(QVRES_EXAMPLE, self.path("nothing_1.qvres"), check=False)
        self.assertEqual(code, 1)
        self.assertIn("nothing_1.qvres", err)


if __name__ == "__main__":
    unittest.main()
