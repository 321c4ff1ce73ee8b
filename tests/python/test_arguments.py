"""Arguments the package passes to the library: numbers that do not fit the
C fields they go into are refused, not cut to their low bits (which name
another variable, part, material or limit); an analysis sent to another
process opens the same files whatever that process's working directory;
exception messages show the control characters of names and paths from
the files."""
import os
import pickle

import numpy as np
import pytest

import qvres
from conftest import run, tool

WRAP32, WRAP64 = 2 ** 32, 2 ** 64


def test_numbers_past_their_c_field_are_refused(mixed):
    # Each call with k and with 2**32 + k (2**64 + k for int64 fields):
    # ctypes keeps the low 32 bits, so the second read k's data.
    with qvres.open(mixed) as a:
        reads = [
            lambda k: a.node_values(k + 4, 0),                      # X-VELOCITY
            lambda k: a.element_values(64, 0, part=k + 1),          # PRESSURE of part 1
            lambda k: a.slot_values(k + 64, 0),
            lambda k: a.material_fractions(k + 1, 0),
            lambda k: a.history(k + 4, node=0).values,              # one position, cycle by cycle
            lambda k: a.history(k + 64, element=[0, 1]).values,     # one library call
            lambda k: a.history(64, element=0, part=k + 1).values,
            lambda k: a.envelope(k + 64).values,
            lambda k: a.count(k + 64, 0),
            lambda k: a.count("material_fractions", 0, part=k + 1),
            lambda k: a.layout(k + 64, 0).values,
            lambda k: a.header_pair(k + 64, 0),
        ]
        for n, read in enumerate(reads):
            assert np.size(read(0)) > 0, n
            with pytest.raises(qvres.ArgumentError):
                read(WRAP32)
            with pytest.raises(qvres.ArgumentError):
                read(-WRAP32)
        assert a.part_elements(4).tolist() == [1]  # the hexahedron, row 1
        with pytest.raises(qvres.ArgumentError):
            a.part_elements(WRAP64 + 4)


def test_positions_that_are_no_integers_are_refused(mixed):
    with qvres.open(mixed) as a:
        whole = a.element_values("PRESSURE", 0)
        assert a.history("PRESSURE", element=1.0).values[0] == whole[1]
        for position in (1.7, [0, 1.7], np.array([0.0, 1.5]), float("nan"), WRAP64 + 1, [0, WRAP64 + 1], True,
                         np.True_, np.array([False, True]),
                         np.array([0.0, np.inf]), np.array([0.0, 2.0 ** 63]), np.array([0, 2 ** 63], np.uint64)):
            with pytest.raises(qvres.ArgumentError):
                a.history("PRESSURE", element=position)
        # Whole numbers in real or unsigned arrays are the positions they
        # name.
        for position in (np.array([3.0, 0.0, 2.0]), np.array([3, 0, 2], np.uint64)):
            assert a.history("PRESSURE", element=position).values[0].tolist() == [whole[3], whole[0], whole[2]]
        with pytest.raises(qvres.ArgumentError):
            a.history("X-VELOCITY", node=1.7)


def test_thread_counts_are_integers_and_none_not_switches(mixed):
    # False would be 0 (one per core) and True 1: a switch passed where a
    # count goes is refused, by every call that takes one.
    with qvres.open(mixed) as a:
        n = len(a.cycles)
        calls = [lambda t: a.history("PRESSURE", element=[0, 3], threads=t).values,
                 lambda t: a.history("PRESSURE", element=3, threads=t).values,
                 lambda t: a.history("X-VELOCITY", at=a.coordinates()[:2], threads=t).values,
                 lambda t: a.envelope("PRESSURE", threads=t).values]
        want = [np.stack([a.element_values("PRESSURE", k)[[0, 3]] for k in range(n)]),
                np.array([a.element_values("PRESSURE", k)[3] for k in range(n)]),
                np.stack([a.node_values("X-VELOCITY", k)[:2] for k in range(n)]),
                np.stack([a.element_values("PRESSURE", k) for k in range(n)]).max(axis=0)]
        for c, (read, values) in enumerate(zip(calls, want)):
            for threads in (None, 0, 1, 3, np.int64(2), np.int32(1), np.uint8(2)):
                assert np.array_equal(read(threads), values), (c, threads)
            for threads in (False, True, np.False_, np.True_, 1.5, "2", -1, WRAP32 + 1, np.array([2])):
                with pytest.raises(qvres.ArgumentError):
                    read(threads)
        # The default of both is one thread per core.
        assert np.array_equal(a.envelope("PRESSURE").values, want[3])


def test_open_options_past_their_c_field_are_refused(mixed):
    # A limit of 1 byte fails the open as damaged; 2**64 + 1 must not be it.
    with pytest.raises(qvres.DamagedError):
        qvres.open(mixed, max_inflated_bytes=1)
    for options in (dict(max_inflated_bytes=WRAP64 + 1), dict(max_inflated_bytes=2 ** 63),
                    dict(max_inflated_bytes=1.5), dict(prefix_rule=WRAP32 + 1)):
        with pytest.raises(qvres.ArgumentError):
            qvres.open(mixed, **options)
    with qvres.open(mixed, prefix_rule=1, max_inflated_bytes=2 ** 63 - 1) as a:
        assert len(a.cycles) > 0
    # prefix_rule is a switch: True is 1.
    for switch in (True, np.True_):
        with qvres.open(mixed, prefix_rule=switch) as a:
            assert len(a.cycles) > 0


@pytest.fixture
def two_runs_of_one_name(tmp_path):
    """here/run and there/run: two analyses of one relative name, of 4 x 4 x 4
    and 3 x 3 x 3 nodes."""
    for where, n in (("here", 4), ("there", 3)):
        run(tool("QVRES_SAMPLE"), "--extents", n, n, n, "--cycles", 2, tmp_path / where / "run")
    return tmp_path / "here", tmp_path / "there"


def test_an_unpickled_analysis_opens_the_files_pickled(two_runs_of_one_name, monkeypatch):
    here, there = two_runs_of_one_name
    sizes = []
    for where in (here, there):
        with qvres.open(where / "run") as a:
            sizes.append(a.model.nodes)
    assert sizes[0] != sizes[1]
    monkeypatch.chdir(here)
    with qvres.open("run") as a:
        sent = pickle.dumps(a)
    monkeypatch.chdir(there)
    with pickle.loads(sent) as b:
        assert b.model.nodes == sizes[0]
        assert os.path.dirname(b.names.base_file) == str(here / "run")


def test_exception_messages_show_control_characters(hostile_names, tmp_path):
    with qvres.open(hostile_names) as a:
        # The message lists what the cycle stores: the names of the file.
        with pytest.raises(qvres.NotStoredError) as stored:
            a.element_values("NOSUCH", 0)
        # Names themselves stay as the file spells them, bytes outside UTF-8
        # as Latin-1 (the TEMP entry is "@SUM(1+1)" 0x9b "31m").
        assert {"PRES\x1b[2JSURE", "@SUM(1+1)\x9b31m"} <= {v.name for v in a.variables(0)}
    message = str(stored.value)
    assert "PRES\\x1b[2JSURE" in message and "@SUM(1+1)\\x9b31m" in message
    # The library's message, naming a path given.
    gone = tmp_path / "gone\x1b]0;TITLE\x07"
    with pytest.raises(qvres.NotFoundError) as missing:
        qvres.open(gone)
    assert "gone\\x1b]0;TITLE\\x07" in str(missing.value)
    for text in (message, str(missing.value), missing.value.message):
        assert not any(c in text for c in "\x1b\x07\x9b"), text


def test_terminal_text_shows_the_control_characters_the_tools_show():
    # C0 but line feed and tab, DEL and C1 as \xNN; printable text, and
    # characters beyond Latin-1, as they are.
    assert qvres.terminal_text("a\x00\x1b[2J\t\n\x7f\x80\x9b\u00a0\u00e9\u20ac") == \
        "a\\x00\\x1b[2J\t\n\\x7f\\x80\\x9b\u00a0\u00e9\u20ac"
