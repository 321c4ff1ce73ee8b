"""Threads share one analysis, each reading cycles through its own reader."""
import gc
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import qvres
from conftest import open_files, same_bits


def read_cycle(a, k):
    return (a.node_values("X-VELOCITY", k), a.element_values("TEMP", k), a.displacements(k),
            a.history("PRESSURE", element=k).values)


def test_threads_reading_different_cycles_get_the_serial_values(sample):
    with qvres.open(sample) as a:
        n = len(a.cycles)
        serial = [read_cycle(a, k) for k in range(n)]
        # Every thread goes through the cycles from its own starting point,
        # so that readers of one cycle and of different cycles overlap.
        order = [(start + k) % n for start in range(4) for k in range(n)]
        with ThreadPoolExecutor(4) as pool:
            threaded = list(pool.map(lambda k: (k, read_cycle(a, k)), order))
        for k, arrays in threaded:
            assert all(same_bits(x, y) for x, y in zip(arrays, serial[k])), k


def test_a_thread_in_the_library_lets_the_others_run(sample):
    with qvres.open(sample) as a:
        a.variables(0)
        stop = threading.Event()
        reads = []

        def reader():
            end = time.monotonic() + 30
            while not stop.is_set() and time.monotonic() < end:
                a.element_values("PRESSURE", len(reads) % len(a.cycles))
                reads.append(1)

        interval = sys.getswitchinterval()
        # No thread is made to give up the interpreter on a timer: this one
        # gets it back from the reader only while a library call lets go of it.
        sys.setswitchinterval(100)
        try:
            thread = threading.Thread(target=reader)
            thread.start()
            reading = thread.is_alive()
            stop.set()
            thread.join()
        finally:
            sys.setswitchinterval(interval)
        assert reading, f"the main thread ran only after {len(reads)} reads had ended"


def test_the_reader_of_an_ended_thread_is_closed(sample):
    with qvres.open(sample) as a:
        threads = [threading.Thread(target=a.displacements, args=(k,)) for k in range(3)]
        for t in threads:
            t.start()
            t.join()
        del threads, t
        gc.collect()
        assert open_files(sample, base=False) == []
        a.displacements(0)
        assert len(open_files(sample, base=False)) == 1
    assert open_files(sample, base=False) == []
    assert np.array_equal(qvres.open(sample).cycles.numbers, a.cycles.numbers)


def test_threads_opening_one_run_at_once_all_open_it(sample):
    # Each open holds the run's lock while it reads the base file; the
    # others wait for it instead of failing as locked.
    def opens(_):
        for _ in range(10):
            with qvres.open(sample) as a:
                assert len(a.cycles) == 12
    with ThreadPoolExecutor(4) as pool:
        list(pool.map(opens, range(4)))
