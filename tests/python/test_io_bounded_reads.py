"""Readers refuse what is not a regular file and allocate no more than a member's shape implies;
images beyond the size limit are refused before they are copied."""

import os
import re
import subprocess
import sys
import threading
import zipfile
import zlib

import numpy as np
import pytest

import _vemo
from _vemo import io


def finishes(call, seconds=20):
    """What `call` raised, or None; fails when it is still blocked after `seconds`."""
    outcome = []

    def run():
        try:
            call()
            outcome.append(None)
        except Exception as error:  # noqa: BLE001 - the error is what is checked
            outcome.append(error)

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    thread.join(seconds)
    assert outcome, "the read blocked"
    return outcome[0]


def test_readers_refuse_pipes_and_devices(tmp_path, capfd):
    dataset = tmp_path / "dataset"
    io.save_hand_eye_dataset(dataset, [np.zeros((4, 4, 3), np.uint8)], [np.eye(4)])
    (dataset / "calibration_data.npz").unlink()
    os.mkfifo(dataset / "calibration_data.npz")
    os.mkfifo(tmp_path / "hand_eye.json")
    (tmp_path / "zero.png").symlink_to("/dev/zero")
    (tmp_path / "zero.json").symlink_to("/dev/zero")
    cases = [(lambda: io.load_hand_eye_dataset(dataset), f"npz: cannot read {dataset}/calibration_data.npz"),
             (lambda: io.load_hand_eye_result(tmp_path), f"io: cannot read {tmp_path}/hand_eye.json"),
             (lambda: io.load_multi_camera_calibration(tmp_path / "zero.json"),
              f"io: cannot read {tmp_path}/zero.json"),
             (lambda: io.load_images([str(tmp_path / "zero.png")]), f"io: cannot read {tmp_path}/zero.png")]
    for call, operation in cases:
        error = finishes(call)
        assert isinstance(error, RuntimeError) and str(error) == f"{operation}: not a regular file"
    capfd.readouterr()


MEMORY_PROBE = """
import resource, sys
import numpy as np
from _vemo import io
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
try:
    poses = io.load_hand_eye_dataset(sys.argv[1])[1]
    outcome = repr(np.asarray(poses).tolist())
except RuntimeError as error:
    outcome = str(error)
grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
print(grown // 1024, outcome)
"""


def deflated_archive(path, pose, trailing, damage_at=None):
    """calibration_data.npz with a (1, 4, 4) member followed by `trailing` zero bytes, deflated;
    `damage_at` flips one byte after the CRC-32 is taken, as a damaged disk would."""
    header = b"{'descr': '<f8', 'fortran_order': False, 'shape': (1, 4, 4), }"
    header += b" " * (117 - len(header)) + b"\n"
    member = bytearray(b"\x93NUMPY\x01\x00" + len(header).to_bytes(2, "little") + header + pose.tobytes())
    member += bytes(trailing)
    crc = zlib.crc32(member)
    if damage_at is not None:
        member[damage_at] ^= 1
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("robot_T_tcp_list.npy", bytes(member))
    archive = bytearray(path.read_bytes())
    central_directory = archive.rindex(b"PK\x01\x02")
    for at in (14, central_directory + 16):  # the local header's CRC-32 and the directory's
        archive[at:at + 4] = crc.to_bytes(4, "little")
    path.write_bytes(bytes(archive))


def test_a_member_inflating_far_past_its_shape_costs_only_its_shape(tmp_path):
    pose = np.arange(16, dtype=np.float64).reshape(4, 4)
    trailing = 256 << 20
    runs = {}
    for name, damage_at in (("intact", None), ("damaged", 128 + 128 + (100 << 20))):
        dataset = tmp_path / name
        dataset.mkdir()
        deflated_archive(dataset / "calibration_data.npz", pose, trailing, damage_at)
        probe = subprocess.run([sys.executable, "-c", MEMORY_PROBE, str(dataset)], capture_output=True, text=True,
                               timeout=300, env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
        grown_mb, outcome = probe.stdout.strip().split(" ", 1)
        runs[name] = (int(grown_mb), outcome)
    # The trailing bytes are accepted, as the format reads them, but never held.
    assert runs["intact"][1] == repr([pose.tolist()])
    assert runs["damaged"][1] == "npz: CRC-32 mismatch on entry 'robot_T_tcp_list.npy'"
    assert max(grown for grown, _ in runs.values()) < 64, f"peak growth in MB: {runs}"


def test_calibrations_refuse_images_beyond_the_size_limit_before_copying_them():
    huge = np.broadcast_to(np.zeros((1, 1, 3), np.uint8), (70000, 70000, 3))  # 14.7 GB if copied
    calibrator = _vemo.IntrinsicCalibrator(_vemo.ChessboardTarget((9, 6), 0.02))
    message = "vemo: an array of 70000 x 70000 pixels is refused: images may have at most 2^28 pixels"
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        calibrator.calibrate([huge])
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        calibrator.calibrate([np.zeros((8, 8, 3), np.uint8), huge])
    with pytest.raises(ValueError, match="^Renderer: image_size must not exceed 2\\^28 pixels$"):
        _vemo.synthetic.Renderer(_vemo.ChessboardTarget((9, 6), 0.02), np.eye(3), np.zeros(5), (16385, 16384))
