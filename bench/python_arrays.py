#!/usr/bin/python3
"""The Python package against the C interface on a sample of about a million
nodes (not a test: run by hand, after building the project):

    /usr/bin/python3 bench/python_arrays.py [--build build] [--dir DIR] [--repeats N]

- node_values: qvres.Analysis.node_values of one cycle against the count
  query and read of libqvres for the same array (build/bench/qvres_calls).
- history: Analysis.history of one element over every cycle against one
  reader and value query per cycle in C.
- threads: two threads reading the node values of two different cycles
  against one thread reading both.
node_values and history are measured in the CPU time of the calling thread
(time spent waiting for a core on a shared machine is not counted), the
fastest of N runs, --rounds times with C and Python taking turns; the
threads in wall-clock time."""
import argparse
import os
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "python"))


def fastest(fn, repeats, clock=time.thread_time):
    fn()  # warm: the directory, the reader, the page cache
    times = []
    for _ in range(repeats):
        start = clock()
        fn()
        times.append(clock() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--dir", default="/tmp/qvres-bench-1M")
    parser.add_argument("--repeats", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    os.environ.setdefault("QVRES_LIBRARY", os.path.join(args.build, "libqvres.so.2"))
    import qvres

    if not os.path.isdir(args.dir):
        subprocess.run([os.path.join(args.build, "tools", "qvres-sample"), "--extents", "100", "100", "100",
                        args.dir], check=True)
    with qvres.open(args.dir) as a:
        cycle = len(a.cycles) // 2
        element = a.parts[0].elements // 2
        print(f"{args.dir}: {a.model.nodes} nodes, {len(a.element_values('PRESSURE', 0))} elements, "
              f"{len(a.cycles)} cycles")
        in_c = {"node_values": float("inf"), "history": float("inf")}
        py_nodes = py_history = float("inf")
        for _ in range(args.rounds):
            c = subprocess.run([os.path.join(args.build, "bench", "qvres_calls"), args.dir, str(cycle), "4",
                                "64", str(element), str(args.repeats)], check=True, capture_output=True, text=True)
            for line in c.stdout.splitlines():
                name, value = line.split()
                in_c[name] = min(in_c[name], float(value))
            py_nodes = min(py_nodes, fastest(lambda: a.node_values("X-VELOCITY", cycle), args.repeats))
            py_history = min(py_history, fastest(lambda: a.history("PRESSURE", element=element), args.repeats))
        print(f"node_values  Python {py_nodes * 1e3:8.2f} ms   C {in_c['node_values'] * 1e3:8.2f} ms   "
              f"ratio {py_nodes / in_c['node_values']:.3f}")
        print(f"history      Python {py_history * 1e3:8.2f} ms   C {in_c['history'] * 1e3:8.2f} ms   "
              f"ratio {py_history / in_c['history']:.3f}")

        pair = (1, len(a.cycles) - 1)

        def serial():
            for k in pair:
                a.node_values("X-VELOCITY", k)
                a.node_values("X-VELOCITY", k - 1)

        def threaded():
            threads = [threading.Thread(target=lambda k=k: (a.node_values("X-VELOCITY", k),
                                                            a.node_values("X-VELOCITY", k - 1)))
                       for k in pair]
            for t in threads:
                t.start()
            for t in threads:
                t.join()

        one, two = fastest(serial, args.repeats, time.perf_counter), fastest(threaded, args.repeats, time.perf_counter)
        print(f"threads      1 thread {one * 1e3:8.2f} ms   2 threads {two * 1e3:8.2f} ms   "
              f"speed-up {one / two:.2f} on {os.cpu_count()} cores")


if __name__ == "__main__":
    main()
