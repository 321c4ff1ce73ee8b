"""The qvres.h example of the README: the README shows examples/qvres_host.c
word for word, and the built example gives, for every cycle of the sample,
the peak pressure the results_api.h example gives."""
import os
import re
import unittest

from tooltest import HOST_EXAMPLE, SOURCE_DIR, SampleTest, run

QVRES_EXAMPLE = os.environ.get("QVRES_QVRES_EXAMPLE", "")


class QvresExample(SampleTest):
    def test_readme_shows_the_example_verbatim(self):
        with open(os.path.join(SOURCE_DIR, "README.md")) as f:
            readme = f.read()
        section = readme.split("## The re-entrant interface: qvres.h", 1)
        self.assertEqual(len(section), 2, "the README has no qvres.h section")
        block = re.search(r"```c\n(.*?)```", section[1], re.S)
        self.assertIsNotNone(block, "the qvres.h section has no C example")
        with open(os.path.join(SOURCE_DIR, "examples", "qvres_host.c")) as f:
            self.assertEqual(block.group(1), f.read())

    def test_both_interfaces_give_the_same_peaks(self):
        _, host, _ = run(HOST_EXAMPLE, self.cycle, self.sample)
        # The results_api.h example prints more per cycle: its lines up to
        # the peak pressure are the ones to match.
        expected = "".join(re.match(r".* Pa", line).group(0) + "\n" for line in host.splitlines())
        for opened in (self.sample, self.base, self.cycle):
            _, out, err = run(QVRES_EXAMPLE, opened)
            self.assertEqual(out, expected, opened)
            self.assertEqual(err, "", opened)

    def test_a_missing_analysis_is_named(self):
        code, _, err = run(QVRES_EXAMPLE, self.path("nothing_1.qvres"), check=False)
        self.assertEqual(code, 1)
        self.assertIn("nothing_1.qvres", err)


if __name__ == "__main__":
    unittest.main()
