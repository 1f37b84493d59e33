"""Camera calibration for robot cells: intrinsics, eye-in-hand and multi-camera rigs.

The user-facing front of the compiled core ``_vemo``: every public name of the core,
its submodules included, is available here.
"""

import sys

import _vemo
from _vemo import *  # noqa: F401,F403
from quorvantine.vemo.robot_poses import load_robot_poses as _load_robot_poses
from quorvantine.vemo.version import __version__  # noqa: F401

# The core's submodules are attributes of a compiled module, which the import system
# cannot find on its own: registering them lets `import quorvantine.vemo.io` and
# `from quorvantine.vemo.io import load_hand_eye_dataset` work like any package module.
for _name in ("tf", "io", "diagnostics", "synthetic"):
    sys.modules[f"{__name__}.{_name}"] = getattr(_vemo, _name)
del _name


# The readers written in Python join the compiled io submodule through its module
# __getattr__ and __dir__, so that `vemo.io.load_robot_poses` works while the core's own
# namespace stays exactly what the core binds.
_IO_PYTHON_NAMES = {"load_robot_poses": _load_robot_poses}


def _io_python_name(name):
    try:
        return _IO_PYTHON_NAMES[name]
    except KeyError:
        raise AttributeError(f"module '_vemo.io' has no attribute '{name}'") from None


vars(_vemo.io).update(__getattr__=_io_python_name, __dir__=lambda: sorted([*vars(_vemo.io), *_IO_PYTHON_NAMES]))

__all__ = [name for name in dir(_vemo) if not name.startswith("_")]
