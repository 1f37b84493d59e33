"""Camera calibration for robot cells: intrinsics, eye-in-hand and multi-camera rigs.

The user-facing front of the compiled core ``_vemo``: every public name of the core,
its submodules included, is available here.
"""

import sys

import _vemo
from _vemo import *  # noqa: F401,F403
from quorvantine.vemo.version import __version__  # noqa: F401

# The core's submodules are attributes of a compiled module, which the import system
# cannot find on its own: registering them lets `import quorvantine.vemo.io` and
# `from quorvantine.vemo.io import load_hand_eye_dataset` work like any package module.
for _name in ("tf", "io", "diagnostics", "synthetic"):
    sys.modules[f"{__name__}.{_name}"] = getattr(_vemo, _name)
del _name

__all__ = [name for name in dir(_vemo) if not name.startswith("_")]
