import math

import numpy as np
import pytest

from _vemo import diagnostics

HEADER = "=" * 60 + "\nROTATION VARIETY OF CAPTURED CAMERA POSES\n" + "=" * 60 + "\n"


def rotation(axis, angle_deg):
    """Rotation matrix by Rodrigues' formula, written independently of OpenCV."""
    axis = np.asarray(axis, dtype=float)
    axis = axis / np.linalg.norm(axis)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    a = math.radians(angle_deg)
    return np.eye(3) + math.sin(a) * k + (1 - math.cos(a)) * k @ k


def transform(r=np.eye(3), t=(0, 0, 0)):
    m = np.eye(4)
    m[:3, :3] = r
    m[:3, 3] = t
    return m


def chain(motions, start=None):
    """Poses whose consecutive relative motions are exactly the given transforms."""
    poses = [transform(t=(0.1, -0.05, 0.6)) if start is None else start]
    for motion in motions:
        poses.append(poses[-1] @ motion)
    return poses


def rotation_vector(r):
    """Log map of SO(3) for angles well below 180 degrees."""
    angle = math.acos(np.clip((np.trace(r) - 1) / 2, -1, 1))
    if angle < 1e-12:
        return np.zeros(3)
    w = np.array([r[2, 1] - r[1, 2], r[0, 2] - r[2, 0], r[1, 0] - r[0, 1]])
    return w * angle / (2 * math.sin(angle))


def reference_stats(poses, min_rotation_deg):
    rvecs = []
    for previous, current in zip(poses, poses[1:]):
        rvec = rotation_vector((np.linalg.inv(previous) @ current)[:3, :3])
        if np.linalg.norm(rvec) > math.radians(min_rotation_deg):
            rvecs.append(rvec)
    if len(rvecs) < 3:
        return None
    rvecs = np.array(rvecs)
    angles = np.degrees(np.linalg.norm(rvecs, axis=1))
    s = np.linalg.svd(rvecs, compute_uv=False)
    return len(rvecs), s, s[2] / s[0], angles.mean(), angles.max()


def random_poses(rng, count):
    motions = []
    for i in range(count - 1):
        # Every fourth motion rotates too little to count at the default threshold.
        angle = rng.uniform(0.05, 0.4) if i % 4 == 3 else rng.uniform(2, 40)
        motions.append(transform(rotation(rng.normal(size=3), angle), rng.normal(scale=0.1, size=3)))
    return chain(motions)


def assert_matches(stats, expected, rtol=1e-9):
    num, s, ratio, mean, maximum = expected
    assert stats.num_motions == num
    np.testing.assert_allclose(stats.singular_values, s, rtol=rtol, atol=1e-12)
    assert stats.axis_span_ratio == pytest.approx(ratio, rel=rtol)
    assert stats.angle_mean_deg == pytest.approx(mean, rel=rtol)
    assert stats.angle_max_deg == pytest.approx(maximum, rel=rtol)


def test_statistics_match_independent_computation():
    rng = np.random.default_rng(7)
    for count, min_rotation_deg in [(12, 0.5), (20, 0.5), (20, 10.0), (9, 0.0)]:
        poses = random_poses(rng, count)
        expected = reference_stats(poses, min_rotation_deg)
        stats = diagnostics.analyze_rotation_variety(poses, min_rotation_deg)
        assert_matches(stats, expected)
        assert list(stats.singular_values) == sorted(stats.singular_values, reverse=True)
    # Single-precision poses are read too; their rotations are orthonormal only to float
    # precision, hence the looser tolerance.
    poses = random_poses(rng, 10)
    poses32 = [p.astype(np.float32) for p in poses]
    assert_matches(diagnostics.analyze_rotation_variety(poses32), reference_stats(poses, 0.5), rtol=1e-6)


def test_stats_are_read_only_and_not_constructible():
    stats = diagnostics.analyze_rotation_variety(random_poses(np.random.default_rng(1), 8))
    with pytest.raises(AttributeError):
        stats.num_motions = 3
    with pytest.raises(TypeError):
        diagnostics.RotationVarietyStats()


def test_too_few_motions_give_none_and_the_short_report():
    about_x = transform(rotation((1, 0, 0), 20))
    assert diagnostics.analyze_rotation_variety([]) is None
    # Three poses can give only two motions, however large.
    assert diagnostics.analyze_rotation_variety(chain([about_x] * 2)) is None
    assert diagnostics.format_rotation_variety(None) == HEADER + "  Not enough motions to analyze.\n"


def test_report_of_ten_degree_motions_about_each_axis():
    motions = [transform(rotation(axis, 10)) for axis in [(1, 0, 0), (0, 1, 0), (0, 0, 1), (1, 0, 0)]]
    stats = diagnostics.analyze_rotation_variety(chain(motions), 0.5)
    # Rows (a,0,0), (0,a,0), (0,0,a), (a,0,0): singular values sqrt(2)a, a, a with a = 10 degrees.
    a = math.radians(10)
    np.testing.assert_allclose(stats.singular_values, [math.sqrt(2) * a, a, a], rtol=1e-9)
    assert diagnostics.format_rotation_variety(stats) == HEADER + (
        "  Inter-frame motions analyzed: 4\n"
        "  Mean inter-frame rotation:    10.00 deg\n"
        "  Max  inter-frame rotation:    10.00 deg\n"
        "  Singular values of rvecs:     [0.247, 0.175, 0.175]\n"
        "  Axis-spread ratio (sv_min/sv_max): 0.707\n"
        "  >>> Rotation variety is healthy.\n"
    )


def test_verdicts_follow_the_axis_spread():
    single_axis = [transform(rotation((0, 0, 1), angle)) for angle in (5, 12, 30, 8)]
    stats = diagnostics.analyze_rotation_variety(chain(single_axis))
    assert stats.singular_values[1] == pytest.approx(0, abs=1e-12)
    assert stats.axis_span_ratio == pytest.approx(0, abs=1e-12)
    text = diagnostics.format_rotation_variety(stats)
    assert text.endswith(
        "  Axis-spread ratio (sv_min/sv_max): 0.000\n"
        "  >>> POOR rotation variety  -  motions cluster in a plane.\n"
        "  >>> Hand-eye is poorly observable in one axis; expect bias.\n"
    )
    # Orthogonal motions of 20, 20 and 5 degrees: ratio 0.25.
    flat = [transform(rotation(axis, angle)) for axis, angle in [((1, 0, 0), 20), ((0, 1, 0), 20), ((0, 0, 1), 5)]]
    stats = diagnostics.analyze_rotation_variety(chain(flat))
    assert stats.axis_span_ratio == pytest.approx(0.25, rel=1e-9)
    assert diagnostics.format_rotation_variety(stats).endswith(
        "(sv_min/sv_max): 0.250\n  >>> Marginal rotation variety  -  possible bias in one axis.\n"
    )


def test_only_motions_rotating_more_than_the_threshold_count():
    turns = [transform(rotation(axis, 10)) for axis in [(1, 0, 0), (0, 1, 0), (0, 0, 1)]]
    shift = transform(t=(0.2, -0.1, 0.05))
    poses = chain([turns[0], shift, turns[1], shift, turns[2]])
    # A pure translation rotates by exactly zero, so it is left out even at a threshold of zero.
    assert diagnostics.analyze_rotation_variety(poses, 0.0).num_motions == 3
    assert diagnostics.analyze_rotation_variety(poses, 10 - 1e-9).num_motions == 3
    assert diagnostics.analyze_rotation_variety(poses, 10 + 1e-9) is None


def test_result_does_not_depend_on_camera_or_target_frame():
    rng = np.random.default_rng(3)
    poses = random_poses(rng, 15)
    camera_change = transform(rotation((1, 2, 3), 70), (0.3, 0.1, -0.4))
    target_change = transform(rotation((-2, 1, 0.5), 130), (-0.2, 0.5, 0.1))
    moved = [camera_change @ p @ target_change for p in poses]
    base = diagnostics.analyze_rotation_variety(poses)
    other = diagnostics.analyze_rotation_variety(moved)
    assert other.num_motions == base.num_motions
    np.testing.assert_allclose(other.singular_values, base.singular_values, rtol=1e-9)
    assert other.angle_mean_deg == pytest.approx(base.angle_mean_deg, rel=1e-9)
    assert other.angle_max_deg == pytest.approx(base.angle_max_deg, rel=1e-9)


def test_bad_input_raises_value_error_naming_the_operation():
    good = chain([transform(rotation((1, 0, 0), 10))] * 4)
    nan_pose = good[2].copy()
    nan_pose[1, 1] = np.nan
    bad_lists = {
        "pose 1 is not a single-channel 4x4 matrix": [good[0], np.eye(3), good[2]],
        "pose 0 is not a single-channel 4x4 matrix": [np.zeros((4, 4, 3))] + good,
        "pose 2 contains NaN or infinity": good[:2] + [nan_pose] + good[3:],
        "pose 1 is singular": [good[0], np.zeros((4, 4))] + good[2:],
    }
    for message, poses in bad_lists.items():
        with pytest.raises(ValueError, match="^analyzeRotationVariety: " + message):
            diagnostics.analyze_rotation_variety(poses)
    for threshold in (-1.0, float("nan")):
        with pytest.raises(ValueError, match="^analyzeRotationVariety: min_rotation_deg"):
            diagnostics.analyze_rotation_variety(good, threshold)
