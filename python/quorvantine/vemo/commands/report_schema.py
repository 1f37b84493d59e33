"""The frame every --report file shares: the schema's name and version, the run's command,
exit code, library version and warnings, and the units of the keys whose names carry none.

Keys ending in _m, _mm, _deg or _px hold metres, millimetres, degrees or pixels; a key named
after a frame pair (tcp_T_camera, reference_T_camera_list, ...) holds 4x4 transforms with
translations in metres; a key ending in _pose_xyz_m_rxyz_deg holds [x, y, z] in metres and
[rx, ry, rz] in degrees (extrinsic X-Y-Z). Every other quantity is named in UNITS."""

SCHEMA = "vemo-report"
# Raised only when a key changes meaning or disappears; new keys keep the version.
SCHEMA_VERSION = 1

PER_VIEW_L2_PX = "px: mean over the views of (Euclidean norm of the view's corner residuals / its corner count)"

UNITS = {
    "intrinsic_matrix": "px (fx, fy, cx, cy)",
    "intrinsic_matrices": "px (fx, fy, cx, cy), one 3x3 matrix per camera",
    "distortion_coefficients": "none (OpenCV order k1 k2 p1 p2 k3 ..., normalised image coordinates)",
    "image_size": "px [width, height]",
    "reprojection_error": PER_VIEW_L2_PX,
    "intrinsic_reprojection_errors": PER_VIEW_L2_PX + ", per camera",
    "pair_reprojection_errors": "px: RMS of the stereo calibration of each camera with the reference",
    "pair_reprojection_error": "px: RMS of the stereo calibration of the camera with the reference",
    "held_out_reprojection_error": PER_VIEW_L2_PX + ", of the views held out by the cross-validation",
    "hand_eye_roundtrip_error": PER_VIEW_L2_PX + ", of the views predicted through the hand-eye result; "
                                "null when not measured",
    # Kept under its first name for callers that read it: it holds metres as well as degrees.
    "pose_deg": "[x, y, z] m and [rx, ry, rz] deg, as tcp_T_camera_pose_xyz_m_rxyz_deg",
    "singular_values": "none (of the matrix of the motions' unit rotation axes)",
    "axis_span_ratio": "none (smallest / largest singular value)",
}


def report_document(command: str, exit_code: int, library_version: str, data: dict) -> dict:
    """The whole --report file of a run: the shared frame, then the command's data, then the
    units of the unit-less keys the data holds."""
    return {"schema": SCHEMA, "schema_version": SCHEMA_VERSION, "command": command, "exit_code": exit_code,
            "library_version": library_version, **data,
            "units": {key: UNITS[key] for key in sorted(keys_within(data)) if key in UNITS}}


def keys_within(value) -> set:
    """Every dictionary key at any depth of value."""
    if isinstance(value, dict):
        return set(value).union(*(keys_within(item) for item in value.values()))
    if isinstance(value, (list, tuple)):
        return set().union(*(keys_within(item) for item in value))
    return set()
