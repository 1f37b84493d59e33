"""Robot poses read from CSV, YAML and JSON files in each layout, against matrices built here."""

import json
import math

import numpy as np
import pytest
import yaml
from quorvantine.vemo import io
from quorvantine.vemo.robot_poses import load_robot_poses

AXIS = {"X": np.array([1.0, 0, 0]), "Y": np.array([0, 1.0, 0]), "Z": np.array([0, 0, 1.0])}


def exponential(rotation_vector):
    """exp of the skew matrix, by scaling and squaring a Taylor series."""
    x, y, z = np.asarray(rotation_vector) / 1024
    skew = np.array([[0, -z, y], [z, 0, -x], [-y, x, 0]])
    result, term = np.eye(3), np.eye(3)
    for n in range(1, 20):
        term = term @ skew / n
        result = result + term
    for _ in range(10):
        result = result @ result
    return result


def quaternion_rotation(w, x, y, z):
    """Through the quaternion's axis and angle: q = (cos(angle / 2), sin(angle / 2) axis)."""
    vector = np.array([x, y, z])
    return exponential(2 * math.atan2(np.linalg.norm(vector), w) * vector / np.linalg.norm(vector))


def euler_rotation(axes, angles_rad, intrinsic):
    rotation = np.eye(3)
    for axis, angle in zip(axes, angles_rad):
        turn = exponential(AXIS[axis] * angle)
        rotation = rotation @ turn if intrinsic else turn @ rotation
    return rotation


def transform(rotation, translation):
    matrix = np.eye(4)
    matrix[:3, :3], matrix[:3, 3] = rotation, translation
    return matrix


def random_rotation(rng):
    q, r = np.linalg.qr(rng.normal(size=(3, 3)))
    q = q * np.sign(np.diag(r))
    return q if np.linalg.det(q) > 0 else -q


def layouts(rng):
    """(format, field names, rows, base_T_tcp truths) for every layout, three poses each."""
    positions = rng.uniform(-1, 1, size=(3, 3))
    rotations = [random_rotation(rng) for _ in positions]
    yield ("matrix", [f"m{r}{c}" for r in range(4) for c in range(4)],
           [list(transform(R, t).ravel()) for R, t in zip(rotations, positions)],
           [transform(R, t) for R, t in zip(rotations, positions)])
    quaternions = [q / np.linalg.norm(q) for q in rng.normal(size=(3, 4))]  # w, x, y, z
    truths = [transform(quaternion_rotation(*q), t) for q, t in zip(quaternions, positions)]
    yield ("xyz-quat-xyzw", ["x", "y", "z", "qx", "qy", "qz", "qw"],
           [[*t, *q[1:], q[0]] for q, t in zip(quaternions, positions)], truths)
    yield ("xyz-quat-wxyz", ["x", "y", "z", "qw", "qx", "qy", "qz"],
           [[*t, *q] for q, t in zip(quaternions, positions)], truths)
    vectors = rng.uniform(-2, 2, size=(3, 3))
    yield ("xyz-rotvec", ["x", "y", "z", "rx", "ry", "rz"], [[*t, *r] for r, t in zip(vectors, positions)],
           [transform(exponential(r), t) for r, t in zip(vectors, positions)])
    angles = rng.uniform(-170, 170, size=(3, 3))
    for axes in ("XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX", "XYX", "XZX", "YXY", "YZY", "ZXZ", "ZYZ"):
        for kind in ("intrinsic", "extrinsic"):
            for unit, values in (("deg", angles), ("rad", np.radians(angles))):
                yield (f"xyz-euler:{axes}:{kind}:{unit}", ["x", "y", "z", "a", "b", "c"],
                       [[*t, *v] for v, t in zip(values, positions)],
                       [transform(euler_rotation(axes, np.radians(a), kind == "intrinsic"), t)
                        for a, t in zip(angles, positions)])


def written(path, suffix, fields, rows, style):
    """The rows as a file of that suffix: CSV with a header, YAML or JSON as lists of numbers,
    as mappings keyed by field name, or (matrix) as 4x4 lists under "poses"."""
    file = path.with_suffix(suffix)
    rows = [[float(value) for value in row] for row in rows]
    if suffix == ".csv":
        file.write_text(",".join(fields) + "\n" + "".join(",".join(map(repr, row)) + "\n" for row in rows))
        return file
    if style == "mappings":
        document = [dict(zip(fields, row)) for row in rows]
    elif style == "nested":
        document = {"poses": [np.reshape(row, (4, 4)).tolist() if len(row) == 16 else row for row in rows]}
    else:
        document = rows
    file.write_text(json.dumps(document) if suffix == ".json" else yaml.safe_dump(document))
    return file


def test_every_layout_reads_back_the_matrices_it_was_written_from(tmp_path, rng):
    assert io.load_robot_poses is load_robot_poses
    cases = list(layouts(rng))
    assert len(cases) == 4 + 12 * 2 * 2
    for pose_format, fields, rows, truths in cases:
        for suffix, style in ((".csv", None), (".yaml", "lists"), (".yml", "mappings"), (".json", "nested")):
            path = written(tmp_path / "poses", suffix, fields, rows, style)
            poses = load_robot_poses(path, pose_format)
            assert len(poses) == 3 and all(pose.shape == (4, 4) and pose.dtype == np.float64 for pose in poses)
            assert np.abs(np.array(poses) - truths).max() < 1e-9, (pose_format, suffix)


def test_kuka_abc_millimetres_and_inverse_rows(tmp_path):
    x, y, z, a, b, c = 512.5, -120.0, 880.25, 35.0, -20.0, 170.0
    ca, sa, cb, sb, cc, sc = (f(math.radians(angle)) for angle in (a, b, c) for f in (math.cos, math.sin))
    rz = np.array([[ca, -sa, 0], [sa, ca, 0], [0, 0, 1]])
    ry = np.array([[cb, 0, sb], [0, 1, 0], [-sb, 0, cb]])
    rx = np.array([[1, 0, 0], [0, cc, -sc], [0, sc, cc]])
    base_T_tcp = transform(rz @ ry @ rx, [x / 1000, y / 1000, z / 1000])
    file = tmp_path / "kuka.csv"
    file.write_text(f"X;Y;Z;A;B;C\n{x};{y};{z};{a};{b};{c}\n")
    (pose,) = load_robot_poses(file, "kuka-abc", units="mm")
    assert np.abs(pose - base_T_tcp).max() < 1e-12

    tcp_T_base_mm = np.linalg.inv(base_T_tcp)
    tcp_T_base_mm[:3, 3] *= 1000
    file = tmp_path / "inverse.json"
    file.write_text(json.dumps([tcp_T_base_mm.tolist()]))
    (pose,) = load_robot_poses(file, units="mm", inverse=True)
    assert np.abs(pose - base_T_tcp).max() < 1e-12


def test_rows_that_do_not_fit_are_refused_with_file_row_and_expectation(tmp_path):
    quaternion_row = "0.1,0.2,0.3,0,0,0,1"
    tilted = np.diag([1.0, 1.0, 1.001, 1.0])
    reflected = np.diag([1.0, 1.0, -1.0, 1.0])
    lifted = np.eye(4)
    lifted[3, 2] = 1
    cases = [
        ("a.csv", "xyz-quat-xyzw", f"x,y,z,qx,qy,qz,qw\n{quaternion_row}\n0.1,0.2,0.3,0,0,1\n",
         "row 3: 6 numbers, expected 7 (x y z qx qy qz qw)"),
        ("b.csv", "xyz-quat-wxyz", "\n0.1 0.2 0.3 0.95 0 0 0\n", "row 2: quaternion norm 0.950000, expected 1 "
                                                                 "(within 0.001)"),
        ("c.csv", "xyz-rotvec", "0,0,0,0,0,0\n# a comment\n0,0,nan,0,0,0\n",
         "row 3: z is nan, expected a finite number"),
        ("d.json", "xyz-rotvec", "[[0, 0, 0, 0, 0, 0], [0, 0, 0, Infinity, 0, 0]]",
         "row 2: rx is inf, expected a finite number"),
        ("e.csv", "xyz-rotvec", "0,0,0,0,0,0\n0,0,abc,0,0,0\n", "row 2: 'abc' is not a number"),
        ("f.yaml", "xyz-quat-xyzw", "poses:\n  - {x: 0, y: 0, z: 0, qx: 0, qy: 0, qz: 0, w: 1}\n",
         "row 1: missing key qw; expected keys x, y, z, qx, qy, qz, qw"),
        ("g.yaml", "xyz-rotvec", "- [0, 0, 0, 0, 0, true]\n", "row 1: True is not a number"),
        ("h.json", "matrix", json.dumps([np.eye(4).tolist(), tilted.tolist()]),
         "row 2: the upper-left 3x3 is not a rotation (R^T R differs from the identity by up to 0.002, det 1.001; "
         "expected within 1e-06 and det 1)"),
        ("i.json", "matrix", json.dumps([reflected.tolist()]), "row 1: the upper-left 3x3 is not a rotation"),
        ("j.yaml", "matrix", yaml.safe_dump({"robot_T_tcp": [lifted.tolist()]}),
         "row 1: bottom row 0 0 1 1, expected 0 0 0 1"),
        ("k.json", "matrix", "[[1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0]]",
         "row 1: 12 numbers, expected 16 (a 4x4 matrix, row by row)"),
        ("l.csv", "matrix", "", "holds no poses"),
        ("m.csv", "matrix", "x,y,z\n\n", "holds no poses"),
        ("n.yaml", "matrix", "poses: []\n", "holds no poses"),
        ("o.json", "matrix", '{"a": [], "b": []}', ": a mapping of a, b; expected a list of poses, or a mapping "
                                                   "with that list under poses"),
        ("p.txt", "matrix", "1", ": unknown file type '.txt'; expected .csv, .json, .yaml or .yml"),
    ]
    for name, pose_format, text, message in cases:
        (tmp_path / name).write_text(text)
        with pytest.raises(ValueError) as error:
            load_robot_poses(tmp_path / name, pose_format)
        assert str(error.value).startswith(f"robot poses: {tmp_path / name}{'' if message[0] == ':' else ' '}"
                                           f"{message}"), name
    with pytest.raises(ValueError, match=r"^robot poses: unknown pose format 'xyz-euler:ZZY:intrinsic:deg'; "
                                         r"expected one of matrix, xyz-quat-xyzw, "):
        load_robot_poses(tmp_path / "a.csv", "xyz-euler:ZZY:intrinsic:deg")
    with pytest.raises(ValueError, match=r"^robot poses: unknown units 'cm'; expected m or mm$"):
        load_robot_poses(tmp_path / "a.csv", units="cm")
