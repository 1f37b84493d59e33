"""ros2-launch: a ROS 2 Python launch file that publishes the transforms with tf2_ros's
static_transform_publisher, one node per transform."""

import re

from quorvantine.vemo.exports.quaternion import translation_and_quaternion

HEADER = '''# Static transforms of {source!r}, as calibrated by vemo.

from launch import LaunchDescription
from launch_ros.actions import Node


def generate_launch_description():
    return LaunchDescription([
'''


def publisher_arguments(transform) -> list:
    (x, y, z), (qx, qy, qz, qw) = translation_and_quaternion(transform.matrix)
    numbers = (("--x", x), ("--y", y), ("--z", z), ("--qx", qx), ("--qy", qy), ("--qz", qz), ("--qw", qw))
    return [text for option, value in numbers for text in (option, repr(value))] + [
        "--frame-id", transform.parent_frame, "--child-frame-id", transform.child_frame]


def node_name(transform) -> str:
    # ROS node names: letters, digits and underscores, not starting with a digit.
    return re.sub(r"\W", "_", f"static_tf_{transform.child_frame}", flags=re.ASCII)


def node(transform) -> str:
    arguments = publisher_arguments(transform)
    # The seven numbers and the two frames, an option and its value to a line.
    lines = "".join(f"                {option!r}, {value!r},\n"
                    for option, value in zip(arguments[::2], arguments[1::2]))
    return (f"        Node(\n"
            f"            package='tf2_ros',\n"
            f"            executable='static_transform_publisher',\n"
            f"            name={node_name(transform)!r},\n"
            f"            arguments=[\n{lines}            ],\n"
            f"        ),\n")


def launch_file(transforms: list, source: str) -> str:
    return HEADER.format(source=source) + "".join(node(transform) for transform in transforms) + "    ])\n"
