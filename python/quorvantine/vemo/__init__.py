"""Camera calibration for robot cells: intrinsics, eye-in-hand and multi-camera rigs.

The user-facing front of the compiled core ``_vemo``: every public name of the core,
its submodules included, is available here.
"""

import _vemo
from _vemo import *  # noqa: F401,F403

__all__ = [name for name in dir(_vemo) if not name.startswith("_")]
