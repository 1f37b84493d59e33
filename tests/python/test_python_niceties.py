"""What Python users get beyond the calls: log lines on sys.stderr, and type stubs that
let mypy check a user's script."""

import contextlib
import io
import os
import pathlib
import subprocess
import sys
import textwrap

import _vemo as v
import numpy as np

BUILD_DIR = pathlib.Path(v.__file__).parent
PYTHON_DIR = pathlib.Path(__file__).resolve().parents[2] / "python"


def test_log_lines_go_to_sys_stderr_with_the_same_bytes(capfd):
    calibrator = v.EyeInHandCalibrator(v.ChessboardTarget((9, 6), 0.03))
    captured = io.StringIO()
    with contextlib.redirect_stderr(captured):
        result = calibrator.calibrate([np.eye(4)] * 3, [], "TSAI", [np.eye(4)] * 3)
    assert not result.ok
    assert captured.getvalue() == ("[vemo][INFO] Collected images 0\n[vemo][INFO] Collected poses 3\n"
                                   "[vemo][ERROR] Not enough valid poses for hand-eye calibration after filtering. "
                                   "Got 3, need at least 4.\n")
    assert capfd.readouterr().err == ""  # nothing went past sys.stderr to the process's own stream


def test_stubs_are_built_and_mypy_checks_a_user_script(tmp_path):
    for stub in ("__init__.pyi", "io.pyi", "py.typed"):  # without py.typed, installed stubs are ignored
        assert (BUILD_DIR / "_vemo" / stub).is_file()
    assert (PYTHON_DIR / "quorvantine" / "vemo" / "py.typed").is_file()
    script = tmp_path / "user_script.py"
    script.write_text(textwrap.dedent("""\
        import numpy as np
        from quorvantine import vemo

        target = vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
        calibrator = vemo.EyeInHandCalibrator(target)
        result = calibrator.calibrate([np.eye(4)], [], "TSAI", [np.eye(4)])
        tcp_T_camera: np.ndarray = result.tcp_T_camera
        error: float = result.reprojection_error
        images, paths = vemo.io.load_images(["captures/*.png"])
        record = vemo.io.load_hand_eye_result("out")
        method: str = record.method
        """))
    broken = tmp_path / "broken_script.py"
    broken.write_text("from quorvantine import vemo\n\nratio: str = vemo.IntrinsicResult().reprojection_error\n"
                      "vemo.EyeInHandCalibrator(3.5)\n")
    environment = dict(os.environ, MYPYPATH=f"{BUILD_DIR}{os.pathsep}{PYTHON_DIR}")

    def mypy(path):
        return subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", os.devnull,
                               "--follow-imports=silent", str(path)], capture_output=True, text=True,
                              env=environment, cwd=tmp_path)

    checked = mypy(script)
    assert checked.returncode == 0, checked.stdout
    rejected = mypy(broken)
    assert rejected.returncode == 1
    assert 'Incompatible types in assignment (expression has type "float", variable has type "str")' in rejected.stdout
    assert 'Argument 1 to "EyeInHandCalibrator" has incompatible type "float"' in rejected.stdout
