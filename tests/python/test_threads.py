"""Long library calls let other Python threads run meanwhile, and a calibrator used from two
threads at once behaves as if the calls had come one after the other."""

import subprocess
import sys
import threading
import time

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene


@pytest.fixture(scope="module")
def scene():
    return make_hand_eye_scene(v.ChessboardTarget((9, 6), 0.03), count=10, image_size=(1280, 960), distance=0.45,
                               seed=3)


def wakeups_during(call) -> int:
    """How often a background thread sleeping 1 ms at a time woke up while `call` ran. A call
    that holds the interpreter lock throughout leaves it none (at most one at each edge)."""
    stamps, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            stamps.append(time.monotonic())
            time.sleep(0.001)

    thread = threading.Thread(target=tick)
    thread.start()
    time.sleep(0.01)
    start = time.monotonic()
    call()
    end = time.monotonic()
    stop.set()
    thread.join()
    return sum(start < stamp < end for stamp in stamps)


def test_long_calls_release_the_interpreter_lock(scene, tmp_path):
    calibrator = v.EyeInHandCalibrator(scene.target)
    assert wakeups_during(lambda: calibrator.calibrate(scene.robot_T_tcp_list, scene.images)) >= 5
    assert wakeups_during(lambda: v.IntrinsicCalibrator(scene.target).find_corners(scene.images)) >= 5
    assert wakeups_during(lambda: v.io.save_hand_eye_dataset(tmp_path, scene.images, scene.robot_T_tcp_list)) >= 5
    assert wakeups_during(lambda: v.io.load_hand_eye_dataset(tmp_path)) >= 5


def test_one_calibrator_from_two_threads_gives_the_serial_results_and_reports(scene, capsys):
    serial = v.EyeInHandCalibrator(scene.target)
    expected = serial.calibrate(scene.robot_T_tcp_list, scene.images).tcp_T_camera
    report = capsys.readouterr().out
    assert report.count("HAND-EYE RESULTS") == 1

    shared = v.EyeInHandCalibrator(scene.target)
    results = [None, None]

    def run(slot):
        results[slot] = shared.calibrate(scene.robot_T_tcp_list, scene.images).tcp_T_camera

    threads = [threading.Thread(target=run, args=(slot,)) for slot in (0, 1)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for result in results:
        np.testing.assert_array_equal(result, expected)
    np.testing.assert_array_equal(shared.last_result().tcp_T_camera, expected)
    assert len(shared.corner_images()) == len(scene.images)
    # Calls on one calibrator do not overlap: the two reports follow one another whole.
    assert capsys.readouterr().out == report * 2


RIG_BESIDE_LOADER = """
import sys, threading
import numpy as np
from _vemo import io

folder = sys.argv[1]
frames = [np.full((8, 8, 3), camera, np.uint8) for camera in range(2)]
io.save_multi_camera_capture(folder, frames, 0)

def record():
    for _ in range(60):
        io.save_multi_camera_capture(folder, frames, io.next_multi_camera_capture_index(folder, 2))

def load():
    for _ in range(60):
        io.load_multi_camera_dataset(folder, 2)

threads = [threading.Thread(target=record), threading.Thread(target=load)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()

class StreamThatReadsTheFolder:
    def write(self, line):
        sys.__stderr__.write(line)
        if "Loaded" in line:
            print("next", io.next_multi_camera_capture_index(folder, 2))

    def flush(self):
        pass

sys.stderr = StreamThatReadsTheFolder()
cameras = io.load_multi_camera_dataset(folder, 2)
print("loaded", [len(frames) for frames in cameras])
"""


def test_rig_captures_beside_a_loader_of_the_same_folder_never_deadlock(tmp_path):
    # In a child process, so that a deadlock fails this test instead of hanging the run.
    try:
        run = subprocess.run([sys.executable, "-c", RIG_BESIDE_LOADER, str(tmp_path)], capture_output=True,
                             text=True, timeout=60)
    except subprocess.TimeoutExpired:
        pytest.fail("recording and loading one rig folder from two threads deadlocked")
    assert run.returncode == 0, run.stderr
    # A log line of the loader reaches a stream that loads the folder again only after the
    # loader let the folder go.
    assert run.stdout.splitlines() == ["next 61", "next 61", "loaded [61, 61]"]
    assert run.stderr.count("[vemo][SUCCESS] Saved capture #") == 61
