"""The host example of the README: the README shows examples/host.c word for
word, and the built example reads every cycle of the sample."""
import os
import re
import unittest

from tooltest import HOST_EXAMPLE, INSPECT, SOURCE_DIR, SampleTest, run


class HostExample(SampleTest):
    def test_readme_shows_the_example_verbatim(self):
        with open(os.path.join(SOURCE_DIR, "README.md")) as f:
            readme = f.read()
        section = readme.split("## How a host links the library and the calling order", 1)
        self.assertEqual(len(section), 2, "the README has no host section")
        block = re.search(r"```c\n(.*?)```", section[1], re.S)
        self.assertIsNotNone(block, "the host section has no C example")
        with open(os.path.join(SOURCE_DIR, "examples", "host.c")) as f:
            self.assertEqual(block.group(1), f.read())

    def test_example_reads_every_cycle(self):
        _, out, _ = run(HOST_EXAMPLE, self.cycle, self.sample)
        _, summary, _ = run(INSPECT, "summary", self.cycle)
        cycles = re.findall(r"^\s+\d+\s+(\d+)\s+[0-9.e+-]+$", summary.split("\ncycles")[1], re.M)
        lines = out.strip().splitlines()
        self.assertEqual([re.match(r"cycle\s+(\d+)", l).group(1) for l in lines], cycles)
        peaks = [float(l.split("peak pressure")[1].split()[0]) for l in lines]
        self.assertTrue(all(p > 1e5 for p in peaks))


if __name__ == "__main__":
    unittest.main()
