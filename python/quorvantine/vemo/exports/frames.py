"""ROS frame names for the frames of a result's transforms."""

import dataclasses

import numpy as np

from quorvantine.vemo.exports.results import CalibrationResult

# REP 103/105 names and the usual URDF names of a robot's base and flange.
DEFAULT_FRAMES = {"base": "base_link", "tcp": "tool0", "camera": "camera_optical_frame",
                  "target": "calibration_target"}
# Cameras known by index (a rig): the reference camera is one of them.
DEFAULT_CAMERA_FRAME = "camera_{index:02d}_optical_frame"


@dataclasses.dataclass
class NamedTransform:
    parent_frame: str
    child_frame: str
    matrix: np.ndarray  # 4x4 parent_T_child, metres


def named_transforms(result: CalibrationResult, parent_frame: str | None = None,
                     child_frame: str | None = None) -> list:
    """The result's transforms between named frames. parent_frame and child_frame rename the
    frames of its first transform (tcp_T_camera, base_T_camera, the rig's first camera pose);
    where cameras go by index child_frame is a pattern such as "cam{index}_link", which names
    the reference camera too unless parent_frame does."""
    if not result.transforms:
        raise ValueError(f"export: {result.file_name} holds no transform to export")
    first = result.transforms[0]
    names = dict(DEFAULT_FRAMES)
    pattern = DEFAULT_CAMERA_FRAME
    if child_frame:
        if isinstance(first.child, int):
            if "{index" not in child_frame:
                raise ValueError(f"export: the cameras of {result.file_name} go by index: --child-frame needs "
                                 f"{{index}} in it, as in {DEFAULT_CAMERA_FRAME}")
            pattern = child_frame
        else:
            names[first.child] = child_frame
    if parent_frame:
        names[first.parent] = parent_frame

    def name(role) -> str:
        if role in names:
            return names[role]
        try:
            return pattern.format(index=role)
        except (KeyError, IndexError, ValueError) as error:
            raise ValueError(f"export: --child-frame {pattern!r} is not a pattern of {{index}}: {error}") from None

    return [NamedTransform(name(t.parent), name(t.child), t.matrix) for t in result.transforms]
