"""Calibration results in the formats that ROS and OpenCV tools read: `export_files` turns a
result file (read by `load_result`) into the text of each output file."""

import dataclasses

from quorvantine.vemo.exports.camera_info import camera_info_files
from quorvantine.vemo.exports.frames import named_transforms
from quorvantine.vemo.exports.opencv_yaml import opencv_yaml
from quorvantine.vemo.exports.results import CalibrationResult, load_result
from quorvantine.vemo.exports.ros2_launch import launch_file
from quorvantine.vemo.exports.tf_static import tf_static_yaml

# The name of each format's file beside a result file, after the result's own name without
# ".json"; a rig's camera_info files go into a folder of that name.
FORMAT_SUFFIXES = {"ros-camera-info": "_camera_info.yaml", "opencv-yaml": "_opencv.yaml",
                   "tf-static": "_tf_static.yaml", "ros2-launch": "_tf_static.launch.py"}
FORMATS = tuple(FORMAT_SUFFIXES)


@dataclasses.dataclass
class ExportOptions:
    parent_frame: str | None = None
    child_frame: str | None = None
    pair: tuple | None = None  # (first, second) rig cameras for ros-camera-info


def export_files(result: CalibrationResult, format_name: str, options: ExportOptions | None = None) -> list:
    """[(file name, text)]: one (None, text) for a format of one file, (name, text) per file of
    a format that writes several (a rig's camera_info). ValueError when the format does not
    apply to the result."""
    options = options or ExportOptions()
    if format_name == "ros-camera-info":
        return camera_info_files(result, options.pair)
    if format_name == "opencv-yaml":
        return [(None, opencv_yaml(result))]
    transforms = named_transforms(result, options.parent_frame, options.child_frame)
    if format_name == "tf-static":
        return [(None, tf_static_yaml(transforms))]
    if format_name == "ros2-launch":
        return [(None, launch_file(transforms, result.file_name))]
    raise ValueError(f"export: unknown format {format_name!r}; expected one of {', '.join(FORMATS)}")


__all__ = ["FORMATS", "FORMAT_SUFFIXES", "ExportOptions", "export_files", "load_result"]
