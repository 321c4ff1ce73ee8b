"""Failures raise the Error subclass of the library's status, with its
message naming the file."""
import os
import shutil

import pytest

import qvres


@pytest.fixture
def run_dir(sample, tmp_path):
    """A copy of the sample to damage."""
    return shutil.copytree(sample, tmp_path / "run")


def truncate(path, fraction=None, size=None):
    os.truncate(path, size if size is not None else int(os.path.getsize(path) * fraction))


def test_a_missing_analysis(tmp_path):
    for path in (tmp_path / "nothing_1.qvres", tmp_path):
        with pytest.raises(qvres.NotFoundError, match=str(path)) as e:
            qvres.open(path)
        assert isinstance(e.value, FileNotFoundError) and e.value.status == 2


def test_a_locked_analysis(run_dir):
    (run_dir / "sample_run.lock").touch()
    with pytest.raises(qvres.LockedError, match="sample_run.lock"):
        qvres.open(run_dir)
    os.remove(run_dir / "sample_run.lock")
    qvres.open(run_dir).close()


def test_a_truncated_base_file(run_dir):
    truncate(run_dir / "sample_run.qvres_base", 0.5)
    with pytest.raises(qvres.DamagedError, match="sample_run.qvres_base"):
        qvres.open(run_dir / "sample_run_0.qvres")


def test_a_cycle_file_truncated_before_opening_is_skipped(run_dir):
    truncate(run_dir / "sample_run_129.qvres", size=16)  # not even its cycle number
    with qvres.open(run_dir) as a:
        assert 129 not in a.cycles.numbers and len(a.cycles) == 11
        assert [os.path.basename(s.path) for s in a.skipped] == ["sample_run_129.qvres"]
        assert a.skipped[0].reason
        # Cut after the open: test_gauges.py (failed cycles).
