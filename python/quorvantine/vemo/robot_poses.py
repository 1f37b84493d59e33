"""Robot flange poses from the CSV, YAML and JSON files that robot controllers and capture
scripts write, as the 4x4 base_T_tcp matrices (metres) that the calibrators take."""

import json
import math
import os
import pathlib

import numpy as np
import yaml

from quorvantine.vemo.pose_layouts import PoseLayout, PoseRowError, pose_layout

UNIT_SCALES = {"m": 1.0, "mm": 0.001}


def load_robot_poses(path, pose_format: str = "matrix", units: str = "m", inverse: bool = False) -> list:
    """The poses of a file as a list of (4, 4) float64 base_T_tcp arrays, translations in metres.

    Arguments:
    - path: a .csv, .yaml, .yml or .json file (os.PathLike or str), one pose per row.
    - pose_format: how a row gives its pose: "matrix" (16 numbers, row by row), "xyz-quat-xyzw",
      "xyz-quat-wxyz", "xyz-rotvec" (radians), "xyz-euler:AXES:intrinsic|extrinsic:deg|rad"
      (such as "xyz-euler:ZYX:intrinsic:deg") or "kuka-abc" (A about Z, B about Y', C about X'',
      degrees); see quorvantine.vemo.pose_layouts.
    - units: "m" or "mm", the unit of the positions in the file.
    - inverse: True when the rows are tcp_T_base (the inverse of base_T_tcp).

    A CSV file holds one pose per line, numbers separated by commas, semicolons or blanks; a
    first line without any number is a header and is skipped; blank lines and lines starting
    with # are skipped. Rows are counted as in a spreadsheet: the header is row 1. A YAML or
    JSON file holds a list of poses, or a mapping with that list under "poses" (or under its
    only key); each pose is a list of numbers (for "matrix" also a 4x4 list of lists) or a
    mapping with the names of the numbers as keys (x, y, z, qx, qy, qz, qw; rx, ry, rz; a, b,
    c for the angles; m00 to m33 for "matrix"), other keys ignored; its row is its place in
    the list, from 1.

    Raises ValueError "robot poses: <path> row <n>: ..." for a row that does not fit the layout
    (a count of numbers, a non-number, NaN or infinity, a quaternion whose norm is not 1
    within 1e-3, a matrix that is not a rotation within 1e-6 or whose bottom row is not
    0 0 0 1), and for an empty file or an unknown format, unit or file type."""
    layout = pose_layout(pose_format)
    if units not in UNIT_SCALES:
        raise ValueError(f"robot poses: unknown units {units!r}; expected m or mm")
    name = os.fspath(path)
    suffix = pathlib.Path(name).suffix.lower()
    if suffix not in READERS:
        raise ValueError(f"robot poses: {name}: unknown file type {suffix!r}; expected .csv, .json, .yaml or .yml")
    try:
        with open(name, encoding="utf-8-sig") as stream:
            text = stream.read()
    except UnicodeDecodeError:
        raise ValueError(f"robot poses: {name}: not UTF-8 text") from None
    rows = READERS[suffix](text, name) if text.strip() else []
    if not rows:
        raise ValueError(f"robot poses: {name} holds no poses")
    poses = []
    for number, row in rows:
        try:
            matrix = layout.to_matrix(row_numbers(row, layout))
        except PoseRowError as error:
            raise ValueError(f"robot poses: {name} row {number}: {error}") from None
        matrix[:3, 3] *= UNIT_SCALES[units]
        poses.append(rigid_inverse(matrix) if inverse else matrix)
    return poses


def rigid_inverse(a_T_b: np.ndarray) -> np.ndarray:
    b_T_a = np.eye(4)
    b_T_a[:3, :3] = a_T_b[:3, :3].T
    b_T_a[:3, 3] = -a_T_b[:3, :3].T @ a_T_b[:3, 3]
    return b_T_a


def row_numbers(row, layout: PoseLayout) -> np.ndarray:
    """A row (a list of numbers or texts, possibly nested one level, or a mapping) as the
    layout's numbers in its order."""
    if isinstance(row, dict):
        keys = {str(key).lower(): value for key, value in row.items()}
        missing = [field for field in layout.fields if field not in keys]
        if missing:
            raise PoseRowError(f"missing key {', '.join(missing)}; expected keys {', '.join(layout.fields)}")
        cells = [keys[field] for field in layout.fields]
    elif isinstance(row, list):
        cells = [cell for part in row for cell in part] if row and all(isinstance(p, list) for p in row) else row
    else:
        raise PoseRowError(f"{row!r}, expected a list of numbers or a mapping")
    if len(cells) != len(layout.fields):
        raise PoseRowError(f"{len(cells)} numbers, expected {layout.expected()}")
    values = np.array([cell_number(cell) for cell in cells])
    for index, value in enumerate(values):
        if not math.isfinite(value):
            raise PoseRowError(f"{layout.fields[index]} is {value}, expected a finite number")
    return values


def cell_number(cell) -> float:
    # YAML 1.1 reads 1e-3 (no dot) as text; a number in quotes is still a number.
    if isinstance(cell, (int, float, str)) and not isinstance(cell, bool):
        try:
            return float(cell)
        except ValueError:
            pass
    raise PoseRowError(f"{cell!r} is not a number")


def is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def csv_rows(text: str, name: str) -> list:
    rows = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        separator = "," if "," in line else ";" if ";" in line else None
        rows.append((number, [cell.strip().strip('"') for cell in line.split(separator)]))
    if rows and not any(is_number(cell) for cell in rows[0][1]):
        return rows[1:]
    return rows


def document_rows(document, name: str) -> list:
    """The numbered rows of a parsed YAML or JSON document."""
    if isinstance(document, dict):
        if "poses" in document:
            document = document["poses"]
        elif len(document) == 1:
            (document,) = document.values()
        else:
            raise ValueError(f"robot poses: {name}: a mapping of {', '.join(map(str, document))}; expected a list "
                             "of poses, or a mapping with that list under poses")
    if not isinstance(document, list):
        raise ValueError(f"robot poses: {name}: expected a list of poses, found {type(document).__name__}")
    return list(enumerate(document, 1))


def yaml_rows(text: str, name: str) -> list:
    try:
        return document_rows(yaml.safe_load(text), name)
    except yaml.YAMLError as error:
        raise ValueError(f"robot poses: {name}: not valid YAML: {error}") from None


def json_rows(text: str, name: str) -> list:
    try:
        return document_rows(json.loads(text), name)
    except json.JSONDecodeError as error:
        raise ValueError(f"robot poses: {name}: not valid JSON: {error}") from None


READERS = {".csv": csv_rows, ".yaml": yaml_rows, ".yml": yaml_rows, ".json": json_rows}
