"""Temporary files that a writer killed before its rename leaves are removed by the next save or
load of their folder, and only those of processes that no longer run."""

import os
import subprocess

import numpy as np

import _vemo
from _vemo import io
from quorvantine.vemo.commands.common_options import write_json


def ended_process_id():
    process = subprocess.Popen(["true"])
    process.wait()
    return process.pid


def plant(folder, names):
    folder.mkdir(exist_ok=True)
    for name in names:
        (folder / name).write_text("left over")


def leftovers(folder):
    return sorted(path.name for path in folder.iterdir() if ".tmp-" in path.name)


def test_saves_and_loads_remove_the_temporary_files_of_ended_writers_only(tmp_path, capfd):
    dead, alive = ended_process_id(), os.getpid()
    stale = [f".hand_eye.json.tmp-{dead}-3-0", f".benchmark.json.tmp-{dead}-0-1",
             f".multi_camera_calibration.json.tmp-{dead}-12-0"]
    kept = [f".hand_eye.json.tmp-{alive}-7-0",  # a writer of this process, still running
            f".hand_eye.json.tmp-{dead}-x-0", ".notes.tmp-1", f"hand_eye.json.tmp-{dead}-1-0"]  # not such names
    record = io.HandEyeResultRecord()
    record.num_cameras, record.tcp_T_camera_list = 1, [np.eye(4)]

    # A save of a record and a load of one, each in a folder of its own.
    folders = {"save": tmp_path / "save", "load": tmp_path / "load"}
    for folder in folders.values():
        plant(folder, stale + kept)
        (folder / f".d.tmp-{dead}-1-0").mkdir()  # not a file: it stays
    io.save_hand_eye_result(folders["save"], record)
    io.save_hand_eye_result(folders["load"] / "hand_eye.json", record)
    plant(folders["load"], stale)
    assert np.array_equal(io.load_hand_eye_result(folders["load"]).tcp_T_camera_list[0], np.eye(4))
    for folder in folders.values():
        assert leftovers(folder) == sorted(kept + [f".d.tmp-{dead}-1-0"])

    # Benchmark results and dataset loads do the same.
    benchmark = tmp_path / "benchmark"
    plant(benchmark, stale)
    _vemo.CalibrationBenchmark.save_json([], str(benchmark / "benchmark.json"))
    assert leftovers(benchmark) == []
    dataset = tmp_path / "dataset"
    io.save_hand_eye_dataset(dataset, [np.zeros((4, 4, 3), np.uint8)], [np.eye(4)])
    plant(dataset, stale)
    assert len(io.load_hand_eye_dataset(dataset)[0]) == 1
    assert leftovers(dataset) == []

    # The report file of the command line: its own temporary names.
    reports = tmp_path / "reports"
    plant(reports, [f".report.json.tmp-{dead}-0123456789abcdef", f".report.json.tmp-{alive}-0123456789abcdef",
                    f".other.json.tmp-{dead}-0123456789abcdef"])
    write_json(str(reports / "report.json"), {"exit_code": 0})
    assert leftovers(reports) == [f".other.json.tmp-{dead}-0123456789abcdef",
                                  f".report.json.tmp-{alive}-0123456789abcdef"]
    capfd.readouterr()
