"""tf-static: the transforms as YAML shaped like ROS's geometry_msgs/TransformStamped, one
transform as that message itself, several as a tf2_msgs/TFMessage ("transforms": a list)."""

import yaml

from quorvantine.vemo.exports.quaternion import translation_and_quaternion


def transform_stamped(transform) -> dict:
    (x, y, z), (qx, qy, qz, qw) = translation_and_quaternion(transform.matrix)
    return {"header": {"stamp": {"sec": 0, "nanosec": 0}, "frame_id": transform.parent_frame},
            "child_frame_id": transform.child_frame,
            "transform": {"translation": {"x": x, "y": y, "z": z},
                          "rotation": {"x": qx, "y": qy, "z": qz, "w": qw}}}


def tf_static_yaml(transforms: list) -> str:
    messages = [transform_stamped(transform) for transform in transforms]
    document = messages[0] if len(messages) == 1 else {"transforms": messages}
    # PyYAML writes floats by repr: every digit a double needs to read back the same.
    return yaml.safe_dump(document, sort_keys=False, default_flow_style=False)
