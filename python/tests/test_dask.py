"""Workbooks exported and read on a Dask cluster of two worker processes, against the command line."""

from __future__ import annotations

import os
import shutil
import signal
import sys
from pathlib import Path
from typing import Dict, List

import pytest

distributed = pytest.importorskip("distributed", reason="python3-distributed is not installed")
import cloudpickle  # noqa: E402  (comes with distributed)

import vellumcast as vc  # noqa: E402
from vellumcast import dask as vcd  # noqa: E402
from conftest import WORKBOOKS, run_cli  # noqa: E402

# The plugin below travels to the workers by value: they cannot import this file.
cloudpickle.register_pickle_by_value(sys.modules[__name__])


def readable(path: Path) -> bool:
    try:
        with vc.open(path) as workbook:
            workbook.text()
        return True
    except vc.VellumcastError:
        return False


@pytest.fixture(scope="module")
def workbooks(tmp_path_factory: pytest.TempPathFactory) -> List[str]:
    """40 workbooks of every format, two of them named alike in two folders, and a broken one."""
    folder = tmp_path_factory.mktemp("workbooks")
    chosen = [path for path in WORKBOOKS if path.suffix in (".xlsx", ".xls", ".ods", ".xml", ".xlsb") and readable(path)]
    paths = []
    for index, path in enumerate(chosen[:39]):
        target = folder / f"{index:02d}-{path.name}"
        shutil.copyfile(path, target)
        paths.append(str(target))
    (folder / "again").mkdir()
    twin = folder / "again" / Path(paths[5]).name
    shutil.copyfile(paths[5], twin)
    paths.insert(20, str(twin))
    broken = folder / "broken.xlsx"
    broken.write_bytes(b"PK\x03\x04" + bytes(200))
    paths.insert(30, str(broken))
    assert len(paths) == 41
    return paths


def folder_bytes(folder: Path) -> Dict[str, bytes]:
    return {path.name: path.read_bytes() for path in sorted(folder.iterdir())}


@pytest.fixture(scope="module")
def expected(workbooks: List[str], tmp_path_factory: pytest.TempPathFactory):
    """What the command line writes and says for the same workbooks, in one process."""
    out = tmp_path_factory.mktemp("cli")
    result = run_cli("-q", "-o", str(out), "-m", "sheet", *workbooks)
    assert result.returncode == 1  # the broken workbook
    return folder_bytes(out), result.stderr.decode().splitlines()


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    )
    with distributed.Client(cluster) as connected:
        yield connected
    cluster.close()


def check(outcomes: List[vcd.Outcome], out: Path, workbooks: List[str], expected) -> None:
    files, errors = expected
    assert folder_bytes(out) == files
    assert [outcome.path for outcome in outcomes] == workbooks  # each once, in order
    failed = [outcome for outcome in outcomes if outcome.status != "ok"]
    assert [outcome.path for outcome in failed] == [str(Path(workbooks[0]).parent / "broken.xlsx")]
    assert failed[0].message.splitlines() == [line for line in errors if "broken.xlsx" in line]
    assert sorted(Path(path).name for outcome in outcomes for path in outcome.written) == sorted(files)


def test_one_process_writes_what_the_command_line_writes(workbooks, expected, tmp_path: Path):
    check(vcd.export_many(workbooks, None, chunk=8, output=tmp_path, mode="sheet"), tmp_path, workbooks, expected)


def test_a_cluster_writes_what_one_process_writes(workbooks, expected, client, tmp_path: Path):
    check(vcd.export_many(workbooks, client, chunk=4, output=tmp_path, mode="sheet"), tmp_path, workbooks, expected)


class KillOnce(distributed.WorkerPlugin):
    """Kills the worker that starts the first export task, once: the marker file remembers."""

    def __init__(self, marker: str) -> None:
        self.marker = marker

    def transition(self, key, start, finish, **kwargs):  # type: ignore[no-untyped-def]
        name = key if isinstance(key, str) else str(key)
        if finish == "executing" and name.startswith("vellumcast-export-2-") and not os.path.exists(self.marker):
            Path(self.marker).write_text(str(os.getpid()))
            os.kill(os.getpid(), signal.SIGKILL)


def test_a_killed_worker_is_replaced_and_its_chunk_redone(workbooks, expected, client, tmp_path: Path):
    marker = tmp_path / "killed"
    out = tmp_path / "out"
    out.mkdir()
    client.register_worker_plugin(KillOnce(str(marker)), name="kill-once")
    try:
        outcomes = vcd.export_many(workbooks, client, chunk=4, output=out, mode="sheet")
    finally:
        client.unregister_worker_plugin("kill-once")
    assert marker.exists()  # a worker died while its chunk ran
    check(outcomes, out, workbooks, expected)
    client.wait_for_workers(2, timeout=60)


def test_read_many_gives_a_partition_per_chunk(workbooks, client):
    pandas = pytest.importorskip("pandas")
    chosen = [path for path in workbooks if not path.endswith("broken.xlsx")][:6]
    frame = vcd.read_many(chosen, client, chunk=2, values="raw")
    assert frame.npartitions == 3
    table = frame.compute()
    assert list(table.columns[:3]) == ["workbook", "sheet", "row"]
    for path in chosen:
        with vc.open(path) as workbook:
            for sheet in workbook:
                local = sheet.read(values="raw")
                found = table[(table.workbook == path) & (table.sheet == sheet.name)]
                assert list(found.row) == local.row_numbers
                for values, row in zip(found[local.columns].itertuples(index=False), local.rows):
                    assert [None if pandas.isna(value) else value for value in values][: len(row)] == list(row)


def test_no_clobber_keeps_files_already_there_as_the_command_line_does(workbooks, tmp_path: Path):
    chosen = [path for path in workbooks if not path.endswith("broken.xlsx")][:5]
    ours, theirs = tmp_path / "ours", tmp_path / "theirs"
    ours.mkdir()
    theirs.mkdir()
    for _ in range(2):
        outcomes = vcd.export_many(chosen, None, chunk=2, output=ours, mode="sheet", no_clobber=True)
        assert all(outcome.status == "ok" for outcome in outcomes)
        assert run_cli("-q", "--no-clobber", "-m", "sheet", "-o", str(theirs), *chosen).returncode == 0
    assert folder_bytes(ours) == folder_bytes(theirs)
    assert any(name.endswith(" (2).txt") for name in folder_bytes(ours))
