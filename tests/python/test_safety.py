"""Faults that end or hang the interpreter: closing an analysis while other
threads use it, forking while threads read, and paths the C library would
cut at a NUL. The races run in a child interpreter, so that a crash or a
hang is a failed test, not a dead test runner."""
import os
import signal
import subprocess
import sys
import textwrap

import pytest

import qvres
from conftest import run, tool


needs_fork = pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork on this system")


def run_child(script, timeout, *args, env=None):
    """Runs `script` in a fresh interpreter; its exit status and output."""
    try:
        p = subprocess.run([sys.executable, "-c", textwrap.dedent(script), *map(str, args)],
                           capture_output=True, text=True, timeout=timeout,
                           env=dict(os.environ, **(env or {})))
    except subprocess.TimeoutExpired as e:
        pytest.fail(f"the child hung for {timeout} s:\n{e.stdout}\n{e.stderr}")
    return p.returncode, p.stdout, p.stderr


CLOSE_RACE = """
    import sys, threading, time
    import qvres

    path, seconds = sys.argv[1], float(sys.argv[2])
    calls = {
        "coordinates": lambda a: a.coordinates(),
        "connectivity": lambda a: a.connectivity(),
        "element_types": lambda a: a.element_types(),
        "part_elements": lambda a: a.part_elements(len(a.parts)),
        "part_nodes": lambda a: a.part_nodes(len(a.parts)),
        "slot_values": lambda a: a.slot_values("PRESSURE", 0),
        "displacements": lambda a: a.displacements(0),
        "rigid_body": lambda a: a.rigid_body(1, 0),
    }
    outcomes = {name: set() for name in calls}
    end = time.monotonic() + seconds
    rounds = 0
    while time.monotonic() < end:
        a = qvres.open(path)
        started = threading.Barrier(len(calls) + 1)

        def use(name, fn):
            started.wait()
            for _ in range(200):
                try:
                    fn(a)
                    outcomes[name].add("ok")
                except qvres.Error as e:
                    # After close: the package's error, naming the file.
                    assert "closed" in str(e) and path in str(e), str(e)
                    outcomes[name].add("closed")
                    return

        threads = [threading.Thread(target=use, args=item) for item in calls.items()]
        for t in threads:
            t.start()
        started.wait()
        time.sleep(0.0005 * (rounds % 8))
        a.close()
        for t in threads:
            t.join()
        rounds += 1
    print(rounds, {k: sorted(v) for k, v in sorted(outcomes.items())})
"""


@pytest.fixture(scope="module")
def large(tmp_path_factory):
    """A sample of 60 000 nodes: its model arrays are large enough to be
    given back to the system when the analysis is closed."""
    d = tmp_path_factory.mktemp("large") / "large"
    run(tool("QVRES_SAMPLE"), "--extents", 50, 40, 30, "--cycles", 2, d)
    return d


# Freed memory is overwritten and large blocks are unmapped at once, so
# that a call reading what close() freed crashes instead of reading stale
# values.
POISONED_HEAP = {"GLIBC_TUNABLES": "glibc.malloc.perturb=204:glibc.malloc.mmap_threshold=65536"}


def test_close_while_other_threads_read_the_model_ends_cleanly(large):
    # The model calls used the analysis handle without the lock: a close in
    # between freed what the call was reading (SIGSEGV in every run).
    status, out, err = run_child(CLOSE_RACE, 120, large, 3, env=POISONED_HEAP)
    assert status == 0, f"the child ended with status {status} " \
                        f"({signal.Signals(-status).name if status < 0 else 'exit'}):\n{out}\n{err}"
    rounds, outcomes = out.split(" ", 1)
    assert int(rounds) >= 5 and not err, err  # a thread's exception is printed there
    # Both outcomes were met: the race was run, not avoided.
    assert "'closed'" in outcomes and "'ok'" in outcomes, outcomes


def test_calls_after_close_name_the_file(sample):
    a = qvres.open(sample)
    a.close()
    a.close()  # a second close does nothing
    for call in (a.coordinates, a.connectivity, a.element_types, lambda: a.part_elements(1),
                 lambda: a.node_values("X-VELOCITY", 0), lambda: a.displacements(0)):
        with pytest.raises(qvres.Error, match=f"{sample}.*closed"):
            call()


FORK_WHILE_READING = """
    import os, sys, threading, time, warnings
    import qvres

    warnings.simplefilter("ignore", DeprecationWarning)  # fork with threads, on purpose
    path, tries = sys.argv[1], int(sys.argv[2])
    a = qvres.open(path)
    stop = threading.Event()

    def read(k):
        while not stop.is_set():
            a.element_values("PRESSURE", k % len(a.cycles))
            a.coordinates()
            k += 1

    threads = [threading.Thread(target=read, args=(k,)) for k in range(3)]
    for t in threads:
        t.start()
    hung = 0
    for n in range(tries):
        time.sleep(0.002 * (n % 5))
        pid = os.fork()
        if pid == 0:
            # The child never touches the analysis; it only has to end, half
            # of them through the interpreter's exit (finalisers, atexit).
            if n % 2:
                os._exit(0)
            sys.exit(0)
        deadline = time.monotonic() + 5
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if time.monotonic() > deadline:
                hung += 1
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                break
            time.sleep(0.005)
    stop.set()
    for t in threads:
        t.join()
    a.close()
    print(hung)
"""


@needs_fork
def test_a_child_forked_while_threads_read_exits(sample):
    # A thread's reader finaliser ran in the child and waited for a lock a
    # thread of the parent held at the fork: the child hung.
    status, out, err = run_child(FORK_WHILE_READING, 280, sample, 40)
    assert status == 0, f"status {status}:\n{out}\n{err}"
    assert out.strip() == "0", f"{out.strip()} of 40 children hung\n{err}"


FORK_AND_USE = """
    import os, sys, threading
    import qvres

    path = sys.argv[1]
    a = qvres.open(path)
    a.element_values("PRESSURE", 0)
    pid = os.fork()
    if pid == 0:
        code = 0
        for call in (a.coordinates, lambda: a.element_values("PRESSURE", 1),
                     lambda: a.displacements(0), lambda: a.rigid_body(1, 0)):
            try:
                call()
                code = 3
            except qvres.Error as e:
                if "open it anew" not in str(e) or path not in str(e):
                    print(e)
                    code = 4
        # Opened anew, the analysis reads.
        with qvres.open(path) as b:
            if len(b.element_values("PRESSURE", 1)) == 0:
                code = 6
        a.close()  # closes nothing of the parent's
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    # The parent's analysis is untouched by the child.
    print(os.waitstatus_to_exitcode(status), len(a.element_values("PRESSURE", 1)) > 0,
          len(a.coordinates()) == a.model.nodes)
    a.close()
"""


@needs_fork
def test_an_analysis_used_in_a_forked_child_says_to_open_it_anew(sample):
    status, out, err = run_child(FORK_AND_USE, 60, sample)
    assert status == 0, f"status {status}:\n{out}\n{err}"
    assert out.split() == ["0", "True", "True"], f"{out}\n{err}"


@pytest.mark.parametrize("suffix", ["\0", "\0x", "/\0/../elsewhere"])
def test_a_path_with_a_nul_is_refused(sample, suffix):
    # The C library reads a path up to its first NUL: "run\0x" opened "run".
    with pytest.raises(qvres.ArgumentError, match="NUL"):
        qvres.open(str(sample) + suffix)
    with pytest.raises(qvres.ArgumentError, match="NUL"):
        qvres.open(os.fsencode(str(sample)) + os.fsencode(suffix))
    with pytest.raises(qvres.ArgumentError, match="NUL"):
        qvres.study.map(len, [str(sample) + suffix])
