"""`export RESULT --to FORMAT --output OUT`: a result file in a format of ROS or OpenCV."""

import argparse
import re

from quorvantine.vemo.commands.export_output import write_export
from quorvantine.vemo.commands.number_options import integer
from quorvantine.vemo.exports import FORMATS, ExportOptions, export_files, load_result
from quorvantine.vemo.exports.frames import DEFAULT_CAMERA_FRAME, DEFAULT_FRAMES


def image_size(text: str) -> tuple:
    match = re.fullmatch(r"(\d+)x(\d+)", text)
    if not match or not all(0 < int(size) <= 2 ** 31 - 1 for size in match.groups()):
        raise argparse.ArgumentTypeError(f"expected WIDTHxHEIGHT in pixels, such as 1280x960; got {text!r}")
    return int(match.group(1)), int(match.group(2))


def camera_pair(text: str) -> tuple:
    try:
        pair = tuple(integer(index) for index in text.split(","))
    except (ValueError, argparse.ArgumentTypeError):
        pair = ()
    if len(pair) != 2:
        raise argparse.ArgumentTypeError(f"expected two camera indices separated by a comma, such as 0,1; got {text!r}")
    return pair


def run(args: argparse.Namespace) -> int:
    result = load_result(args.result, args.image_size)
    files = export_files(result, args.to, ExportOptions(args.parent_frame, args.child_frame, args.pair))
    paths = write_export(files, args.output)
    for path in paths:
        print(f"Exported {args.to}: {path}", flush=True)
    args.outcome.summary = f"export: {args.to} of {args.result}, {len(paths)} file{'s' if len(paths) > 1 else ''}"
    args.outcome.report.update({"result": args.result, "format": args.to, "files": paths})
    return 0


def add_command(commands) -> None:
    frames = ", ".join(f"{role}: {name}" for role, name in DEFAULT_FRAMES.items())
    export = commands.add_parser(
        "export", help="write a result file in a format of ROS or OpenCV",
        description="Writes a result file of vemo (intrinsics.json, hand_eye.json, eye_to_hand.json, "
                    "multi_camera_calibration.json or one of their _refined.json files) in another format: "
                    "ros-camera-info (ROS camera_calibration YAML; needs intrinsics: intrinsics.json, a refined "
                    "hand-eye result or a rig), opencv-yaml (cv::FileStorage YAML of every matrix), tf-static (the "
                    "transforms as a ROS TransformStamped in YAML; several as a list under 'transforms') or "
                    "ros2-launch (a ROS 2 launch file running tf2_ros static_transform_publisher per transform).")
    export.add_argument("result", metavar="RESULT", help="the result file")
    export.add_argument("--to", required=True, choices=FORMATS, metavar="FORMAT",
                        help=f"the format: {', '.join(FORMATS)}")
    export.add_argument("--output", required=True, metavar="OUT",
                        help="the file to write; for ros-camera-info of a rig, the folder that gets one "
                             "camera_NN.yaml per camera")
    export.add_argument("--image-size", type=image_size, metavar="WIDTHxHEIGHT",
                        help="the image size for ros-camera-info and opencv-yaml where the result file does not "
                             "record it (all but intrinsics.json)")
    export.add_argument("--parent-frame", metavar="NAME",
                        help=f"tf-static, ros2-launch: the parent frame of the first transform (defaults: {frames}; "
                             f"rig cameras {DEFAULT_CAMERA_FRAME})")
    export.add_argument("--child-frame", metavar="NAME",
                        help="tf-static, ros2-launch: its child frame; for a rig a pattern with {index}, as in "
                             f"{DEFAULT_CAMERA_FRAME}, that names every camera")
    export.add_argument("--pair", type=camera_pair, metavar="FIRST,SECOND",
                        help="ros-camera-info of a rig: the two cameras rectified as a stereo pair (default the "
                             "reference camera and the first other one); the other cameras are written unrectified")
    export.set_defaults(handler=run)
