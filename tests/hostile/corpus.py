"""The hostile corpus against every front end.

Each case is an analysis a broken or hostile producer could leave: written
by make_case (the fixture writer) or derived here from the valid one
(truncations, a stale lock, links out of the run, directories without one
base file). Every front end reads every case:

  exports   tests/hostile/exports_host.c over the 59 exports of libresults_api
  qvres     tests/hostile/qvres_host.c over libqvres
  python    the qvres package: coordinates, connectivity, every variable of
            every cycle
  summary, vars, values   qvres-inspect
  to-vtk    qvres-to-vtk into an output directory with a planted link
  diff      qvres-diff of the case against itself
  paraview  the reader in pvpython, UpdatePipeline on every time step

and for each it checks: peak resident memory at most 64 MB + 16 x the
case's bytes (ParaView: its increment over reading the valid case), at most
10 s (ParaView: over the valid case's time), the expected outcome (a damaged
case fails with a message naming a file of the case; a benign one reads),
no signal, and nothing written anywhere but the output directory.

Usage: corpus.py [--jobs N] [CASE ...]; the tools and hosts come from the
environment that tests/hostile/CMakeLists.txt sets. Exit 0 when every check
holds (known failures are listed, not counted)."""
import argparse
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor

MB = 1 << 20
MEMORY_BASE, MEMORY_PER_BYTE, SECONDS = 64 * MB, 16, 10.0

ENV = os.environ
FRONT_ENDS = ["exports", "qvres", "python", "summary", "vars", "values", "to-vtk", "diff", "paraview"]
TOOLS = {"summary", "vars", "values", "to-vtk", "diff"}

# What each case must give: "fail" (a clean error naming a file of the
# case), "ok" (reads), or "any" (either, still bounded and clean). A case's
# own entries override its default.
CASES = {
    "valid": ("ok", {}),
    "huge_block": ("fail", {}),
    # The model is sound; only its value counts are beyond the cycle file.
    "huge_request": ("fail", {"summary": "ok", "vars": "ok"}),
    "alternating": ("ok", {}),
    "inflation_bomb": ("fail", {}),
    # Cycle 1's directory is sound, its arrays are not.
    "garbage_inflate": ("fail", {"summary": "ok", "vars": "ok"}),
    "connectivity_past_n": ("fail", {}),
    "names": ("ok", {}),
    # Cycle 2 lays its node values out for one node more than the model:
    # one-cycle reads serve the sizes it states, what puts node values on
    # the model's points refuses it.
    "more_nodes": ("any", {"to-vtk": "fail", "paraview": "fail"}),
    "truncated_base": ("fail", {}),
    # Cut in its arrays: the cycle stays registered, its values fail.
    # (qvres-inspect values reads one array, which may stand before the cut.)
    "truncated_cycle": ("fail", {"summary": "ok", "vars": "any", "values": "any"}),
    "stale_lock": ("fail", {}),
    "link_out": ("ok", {}),
    "empty_dir": ("fail", {}),
    "two_bases": ("fail", {}),
}

# (case, front end): the check that does not hold yet (the start of its
# problem text) and why. Reported, not counted; any other problem counts.
KNOWN_FAILURES = {
    ("more_nodes", "to-vtk"): ("its error names no file of the case",
                               "the tools' own node-count check names the step and its cycle: "
                               "qvres.h gives no registered cycle's file name"),
}

# What the output of these front ends must say besides: the stale lock named
# as such, the links out named as skipped.
REQUIRED_TEXT = {
    "stale_lock": ("which no longer runs", {"qvres", "python", "summary", "vars", "values", "to-vtk", "diff",
                                            "paraview"}),
    "link_out": ("a link out of the run's directory", {"qvres", "summary", "to-vtk", "diff"}),
}

GENERATED = {"valid", "huge_block", "huge_request", "alternating", "inflation_bomb", "garbage_inflate",
             "connectivity_past_n", "names", "more_nodes"}
DERIVED_FROM_VALID = {"truncated_base", "truncated_cycle", "stale_lock", "link_out"}

# Text from a file reaching a terminal: ESC, BEL and CSI must not.
CONTROL = (b"\x1b", b"\x07", b"\xc2\x9b", b"\x9b")


def ended_process():
    """The id of a process of this host that ran and is gone."""
    p = subprocess.Popen(["true"])
    p.wait()
    return p.pid


def make_case(name, root):
    """Writes case `name` under `root`: run/ (the analysis), outside/ (files
    a hostile run points at), out/ (the output directory). Returns its dir."""
    case = os.path.join(root, name)
    run, outside, out = (os.path.join(case, d) for d in ("run", "outside", "out"))
    os.makedirs(outside)
    os.makedirs(out)
    with open(os.path.join(outside, "secret.txt"), "w") as f:
        f.write("x" * 12345)
    with open(os.path.join(outside, "victim.txt"), "w") as f:
        f.write("planted link target\n")
    if name in GENERATED or name in DERIVED_FROM_VALID:
        subprocess.run([ENV["QVRES_MAKE_CASE"], name if name in GENERATED else "valid", run], check=True)
    else:
        os.makedirs(run)
    if name == "truncated_base":
        base = os.path.join(run, "hostile_run.qvres_base")
        os.truncate(base, os.path.getsize(base) // 2)
    elif name == "truncated_cycle":
        cycle = os.path.join(run, "hostile_run_2.qvres")
        os.truncate(cycle, os.path.getsize(cycle) // 2)
    elif name == "stale_lock":
        with open(os.path.join(run, "hostile_run.lock"), "w") as f:
            f.write(f"results_api reader lock\nhost {os.uname().nodename}\nprocess {ended_process()}\n"
                    "time 1700000000\n")
    elif name == "link_out":
        # Another run's cycle file and a file that is no results file, both
        # reached through cycle file names of this run.
        subprocess.run([ENV["QVRES_MAKE_CASE"], "valid", os.path.join(outside, "other")], check=True)
        os.symlink(os.path.join(outside, "other", "hostile_run_1.qvres"), os.path.join(run, "hostile_run_3.qvres"))
        os.symlink(os.path.join(outside, "secret.txt"), os.path.join(run, "hostile_run_4.qvres"))
    elif name == "two_bases":
        subprocess.run([ENV["QVRES_MAKE_CASE"], "valid", os.path.join(case, "tmp")], check=True)
        for run_name in ("a_run", "b_run"):
            shutil.copy(os.path.join(case, "tmp", "hostile_run.qvres_base"), os.path.join(run, run_name + ".qvres_base"))
        shutil.copy(os.path.join(case, "tmp", "hostile_run_1.qvres"), os.path.join(run, "a_run_1.qvres"))
        shutil.rmtree(os.path.join(case, "tmp"))
    return case


def case_bytes(case):
    run = os.path.join(case, "run")
    return sum(os.lstat(os.path.join(run, f)).st_size for f in os.listdir(run))


def snapshot(top):
    """Every entry under `top` with its kind, size, link target and content digest."""
    seen = {}
    for dirpath, dirnames, filenames in os.walk(top):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            st = os.lstat(path)
            if os.path.islink(path):
                seen[path] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                seen[path] = ("dir",)
            else:
                with open(path, "rb") as f:
                    seen[path] = ("file", st.st_size, hashlib.sha256(f.read()).hexdigest())
    return seen


def file_path(case, kind):
    """What a front end that needs a file is given: a cycle file, else the
    base file under its older name, else the run's directory."""
    run = os.path.join(case, "run")
    if os.path.exists(os.path.join(run, "hostile_run_1.qvres")):
        return os.path.join(run, "hostile_run_1.qvres")
    if os.path.exists(os.path.join(run, "hostile_run.qvres_base")):
        return os.path.join(run, "hostile_run_base.qvres") if kind == "exports" else os.path.join(run, "hostile_run.qvres_base")
    return run


PYTHON_FRONT_END = r"""
import sys
import qvres
try:
    with qvres.open(sys.argv[1]) as a:
        a.coordinates(); a.connectivity()
        for k in range(len(a.cycles)):
            for v in a.variables(k):
                (a.node_values if v.location == "node" else a.element_values)(v, k)
            a.displacements(k)
except qvres.errors.Error as e:
    print(f"{type(e).__name__}: {e}", file=sys.stderr)
    sys.exit(1)
print("python: read")
"""

PARAVIEW_FRONT_END = r"""
import inspect, sys
if not hasattr(inspect, "getargspec"):
    inspect.getargspec = inspect.getfullargspec
from paraview.simple import LoadPlugin
LoadPlugin(sys.argv[1], ns=globals())
# The proxy of the reader, named by its label.
reader = Explicitdynamicsresultsqvres(FileNames=[sys.argv[2]])
reader.UpdatePipelineInformation()
steps = reader.TimestepValues
times = list(steps) if hasattr(steps, "__len__") else [steps]
for t in times or [None]:
    reader.UpdatePipeline() if t is None else reader.UpdatePipeline(t)
print("paraview: %d time steps updated" % len(times))
"""


def command(front_end, case, scratch):
    run = os.path.join(case, "run")
    var = "1002" if case.endswith("alternating") else "64"
    step = "1" if case.endswith("truncated_cycle") else "0"
    if front_end == "paraview":
        script = os.path.join(os.path.dirname(case), "paraview_front_end.py")
        with open(script, "w") as f:
            f.write(PARAVIEW_FRONT_END)
        return [ENV["QVRES_PVPYTHON"], "--force-offscreen-rendering", script, ENV["QVRES_PLUGIN"],
                file_path(case, "paraview")]
    return {
        "exports": [ENV["QVRES_EXPORTS_HOST"], file_path(case, "exports"), run],
        "qvres": [ENV["QVRES_QVRES_HOST"], run],
        "python": [sys.executable, "-c", PYTHON_FRONT_END, run],
        "summary": [ENV["QVRES_INSPECT"], "summary", run],
        "vars": [ENV["QVRES_INSPECT"], "vars", run, step],
        "values": [ENV["QVRES_INSPECT"], "values", run, step, var, "--element"],
        "to-vtk": [ENV["QVRES_TO_VTK"], "--threads", "1", run, os.path.join(case, "out")],
        "diff": [ENV["QVRES_DIFF"], "--threads", "1", run, run],
    }[front_end]


def measured_run(argv, cwd, env):
    """Runs argv; returns (status, output bytes, peak RSS in bytes, seconds).
    The peak is the child's own (wait4), so front ends run in parallel."""
    out = tempfile.TemporaryFile()
    start = time.monotonic()
    p = subprocess.Popen(argv, cwd=cwd, env=env, stdout=out, stderr=subprocess.STDOUT,
                         stdin=subprocess.DEVNULL, start_new_session=True)
    killer = threading.Timer(60.0, lambda: os.killpg(p.pid, signal.SIGKILL))
    killer.start()
    _, status, usage = os.wait4(p.pid, 0)
    killer.cancel()
    seconds = time.monotonic() - start
    p.returncode = os.waitstatus_to_exitcode(status)
    out.seek(0)
    return p.returncode, out.read(), usage.ru_maxrss * 1024, seconds


def front_end_env():
    env = dict(ENV)
    env["PYTHONPATH"] = os.path.join(ENV["QVRES_SOURCE_DIR"], "python")
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


class Result:
    def __init__(self, case, front_end):
        self.case, self.front_end = case, front_end
        self.status, self.rss, self.seconds, self.problems, self.output = None, 0, 0.0, [], b""
        self.failed = False


def expectation(case_name, front_end):
    default, overrides = CASES[case_name]
    return overrides.get(front_end, default)


def run_front_end(case_name, case, front_end, baseline):
    r = Result(case_name, front_end)
    scratch = os.path.join(case, "cwd-" + front_end)
    os.makedirs(scratch)
    argv = command(front_end, case, scratch)
    if front_end == "to-vtk":
        # A link planted at the collection's name: it must be replaced, not
        # written through.
        out = os.path.join(case, "out")
        shutil.rmtree(out)
        os.makedirs(out)
        os.symlink(os.path.join(case, "outside", "victim.txt"), os.path.join(out, "hostile_run.pvd"))
    watched = {d: snapshot(os.path.join(case, d)) for d in ("run", "outside")}
    entries = set(os.listdir(case))
    env = front_end_env()
    if front_end == "paraview":
        env.pop("PYTHONPATH")  # the plugin finds the package of its source tree
    r.status, r.output, r.rss, r.seconds = measured_run(argv, scratch, env)

    size = case_bytes(case)
    bound = MEMORY_BASE + MEMORY_PER_BYTE * size
    rss, seconds = r.rss, r.seconds
    if front_end == "paraview" and baseline:
        rss, seconds = r.rss - baseline[0], r.seconds - baseline[1]
    if front_end == "paraview" and not baseline:
        rss, seconds = 0, 0.0  # the baseline itself
    if rss > bound:
        r.problems.append(f"peak memory {rss / MB:.1f} MB over {bound / MB:.1f} MB")
    if seconds > SECONDS:
        r.problems.append(f"{seconds:.1f} s")
    if r.status < 0:
        r.problems.append(f"ended by signal {-r.status}")
    text = r.output.decode("utf-8", "replace")
    paraview_error = "ERROR" in text or "Traceback" in text
    failed = r.failed = r.status != 0 or (front_end == "paraview" and paraview_error)
    expected = expectation(case_name, front_end)
    run_dir = os.path.join(case, "run")
    if front_end == "python" and r.status not in (0, 1):
        r.problems.append("not a qvres exception: " + text.strip().splitlines()[-1][:200] if text.strip()
                          else f"status {r.status}")
    if front_end in TOOLS and r.status > 2:
        r.problems.append(f"status {r.status}")
    if front_end == "paraview" and "Traceback" in text:
        r.problems.append("a Python exception")
    if expected == "ok" and failed:
        r.problems.append("failed on a case it should read")
    if expected == "fail":
        if not failed:
            r.problems.append("read a case it should refuse")
        elif run_dir not in text:
            r.problems.append("its error names no file of the case")
    required, readers = REQUIRED_TEXT.get(case_name, ("", ()))
    if front_end in readers and required not in text:
        r.problems.append(f"does not say '{required}'")
    if front_end in TOOLS and any(c in r.output for c in CONTROL):
        r.problems.append("a control character from the file reached the terminal")
    for d, before in watched.items():
        if snapshot(os.path.join(case, d)) != before:
            r.problems.append(f"changed {d}/")
    added = set(os.listdir(case)) - entries
    if added:
        r.problems.append("wrote " + ", ".join(sorted(added)))
    if os.listdir(scratch):
        r.problems.append("wrote into its working directory: " + ", ".join(os.listdir(scratch)))
    if front_end == "to-vtk":
        with open(os.path.join(case, "outside", "victim.txt")) as f:
            if f.read() != "planted link target\n":
                r.problems.append("wrote through a planted link")
    os.rmdir(scratch) if not os.listdir(scratch) else None
    return r


def run_case(case_name, root, front_ends, baseline):
    case = make_case(case_name, root)
    results = [run_front_end(case_name, case, fe, baseline) for fe in front_ends]
    # A case's front ends run one after another: an open takes the run's
    # lock, which would refuse another front end's open meanwhile.
    return case_name, case_bytes(case), results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--keep", action="store_true", help="keep the cases' directory")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    cases = args.cases or list(CASES)
    front_ends = list(FRONT_ENDS)
    pvpython = ENV.get("QVRES_PVPYTHON") or shutil.which("pvpython")
    if not pvpython:
        print("ParaView front end skipped: pvpython is not installed")
        front_ends.remove("paraview")
    else:
        ENV["QVRES_PVPYTHON"] = pvpython
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="qvres-hostile-")
    try:
        baseline = None
        if "paraview" in front_ends:
            # pvpython itself takes some hundred MB and seconds: the reader's
            # share is what a case takes beyond reading the valid one.
            base = make_case("valid", os.path.join(root, "baseline"))
            b = run_front_end("valid", base, "paraview", None)
            if b.status != 0 or b.problems:
                print("ParaView baseline failed:", b.problems, b.output.decode("utf-8", "replace")[-2000:])
                return 1
            baseline = (b.rss, b.seconds)
            print(f"ParaView baseline (valid case): {b.rss / MB:.0f} MB, {b.seconds:.1f} s")
        with ThreadPoolExecutor(max_workers=args.jobs) as pool:
            done = list(pool.map(lambda c: run_case(c, root, front_ends, baseline), cases))
    finally:
        if not args.keep:
            shutil.rmtree(root, ignore_errors=True)
        else:
            print("cases kept in", root)

    failures, known = 0, 0
    width = max(len(c) for c in cases)
    print(f"{'case':{width}}  {'bytes':>8}  " + "  ".join(f"{fe:>14}" for fe in front_ends))
    for case_name, size, results in done:
        cells = []
        for r in results:
            mark = f"e{r.status}" if r.status else "err" if r.failed else "ok"
            cells.append(f"{mark:>3} {r.rss / MB:5.1f}M {r.seconds:4.1f}s")
        print(f"{case_name:{width}}  {size:8d}  " + "  ".join(f"{c:>14}" for c in cells))
    print("(ok, eN exit status N, or err an error reported; peak resident memory and seconds of the whole\n"
          " process: ParaView's include pvpython's own, checked as the increment over the valid case)")
    for case_name, size, results in done:
        for r in results:
            waived, why = KNOWN_FAILURES.get((case_name, r.front_end), (None, ""))
            known_problems = [p for p in r.problems if waived and p.startswith(waived)]
            problems = [p for p in r.problems if p not in known_problems]
            if known_problems:
                known += 1
                print(f"KNOWN FAILURE {case_name} / {r.front_end}: {'; '.join(known_problems)} ({why})")
            if problems:
                failures += 1
                tail = r.output.decode("utf-8", "replace").strip().splitlines()[-3:]
                print(f"FAIL {case_name} / {r.front_end}: {'; '.join(problems)}\n    " + "\n    ".join(tail))
    print(f"{len(cases)} cases x {len(front_ends)} front ends in {time.monotonic() - started:.0f} s: "
          f"{failures} failures, {known} known failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
