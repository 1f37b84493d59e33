"""Rendered scenes with known geometry (ground truth for the demo, the tests and the
benchmarks): orbits of views around a target, eye-in-hand and eye-to-hand captures, and
multi-camera rigs."""

from quorvantine.vemo.scenes.eye_to_hand import EyeToHandScene, make_eye_to_hand_scene
from quorvantine.vemo.scenes.hand_eye import HandEyeScene, make_hand_eye_scene, pose_error
from quorvantine.vemo.scenes.rig import RigScene, make_rig_scene
from quorvantine.vemo.scenes.views import orbit_camera_T_targets, render_orbit

__all__ = ["EyeToHandScene", "make_eye_to_hand_scene", "HandEyeScene", "make_hand_eye_scene", "pose_error",
           "RigScene", "make_rig_scene", "orbit_camera_T_targets", "render_orbit"]
