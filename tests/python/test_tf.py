"""Pose vector <-> transform conversions and the mean pose, against NumPy."""

import math

import numpy as np
import pytest
from _vemo import tf


def rotation_xyz(rx, ry, rz):
    """R = Rz @ Ry @ Rx from elementary rotations (degrees)."""
    a, b, c = np.radians([rx, ry, rz])
    Rx = np.array([[1, 0, 0], [0, math.cos(a), -math.sin(a)], [0, math.sin(a), math.cos(a)]])
    Ry = np.array([[math.cos(b), 0, math.sin(b)], [0, 1, 0], [-math.sin(b), 0, math.cos(b)]])
    Rz = np.array([[math.cos(c), -math.sin(c), 0], [math.sin(c), math.cos(c), 0], [0, 0, 1]])
    return Rz @ Ry @ Rx


def test_pose_to_matrix_against_numpy(rng):
    for _ in range(50):
        pose = list(rng.uniform(-1, 1, 3)) + list(rng.uniform(-180, 180, 3))
        T = tf.pose_to_transformation_matrix(pose)
        assert T.shape == (4, 4) and T.dtype == np.float64
        np.testing.assert_allclose(T[:3, :3], rotation_xyz(*pose[3:]), atol=1e-12)
        np.testing.assert_allclose(T[:3, 3], pose[:3])
        np.testing.assert_array_equal(T[3], [0, 0, 0, 1])
    np.testing.assert_array_equal(tf.pose_to_transformation_matrix([0] * 6), np.eye(4))


def test_round_trip_and_gimbal_lock(rng):
    for _ in range(200):
        pose = list(rng.uniform(-2, 2, 3)) + [rng.uniform(-179.9, 180), rng.uniform(-89.9, 89.9),
                                              rng.uniform(-179.9, 180)]
        back = tf.transformation_matrix_to_pose(tf.pose_to_transformation_matrix(pose))
        assert isinstance(back, list) and len(back) == 6
        np.testing.assert_allclose(back, pose, atol=1e-8)

    T = tf.pose_to_transformation_matrix([0, 0, 0, 30, 90, 10])
    assert T[2, 0] == pytest.approx(-1.0)
    pose = tf.transformation_matrix_to_pose(T)
    assert pose[3] == 0.0 and pose[4] == pytest.approx(90.0)
    np.testing.assert_allclose(tf.pose_to_transformation_matrix(pose), T, atol=1e-7)


def test_matrix_depth_does_not_matter():
    T = tf.pose_to_transformation_matrix([1, 2, 3, 0, 0, 90])
    expected = tf.transformation_matrix_to_pose(T)
    np.testing.assert_allclose(tf.transformation_matrix_to_pose(T.astype(np.float32)), expected, atol=1e-5)
    np.testing.assert_allclose(tf.transformation_matrix_to_pose(np.rint(T).astype(np.int32)), expected,
                               atol=1e-9)


def test_average_pose_against_numpy(rng):
    poses = [tf.pose_to_transformation_matrix(list(rng.uniform(-1, 1, 3)) + list(rng.normal(0, 10, 3)))
             for _ in range(7)]
    mean = tf.average_pose(poses)
    U, _, Vt = np.linalg.svd(sum(p[:3, :3] for p in poses))
    np.testing.assert_allclose(mean[:3, :3], U @ Vt, atol=1e-12)
    np.testing.assert_allclose(mean[:3, 3], np.mean([p[:3, 3] for p in poses], axis=0), atol=1e-15)
    np.testing.assert_array_equal(mean[3], [0, 0, 0, 1])

    plus = tf.pose_to_transformation_matrix([0, 0, 0, 0, 25, 0])
    minus = tf.pose_to_transformation_matrix([2, 4, 6, 0, -25, 0])
    both = tf.average_pose([plus, minus])
    np.testing.assert_allclose(both[:3, :3], np.eye(3), atol=1e-12)
    np.testing.assert_allclose(both[:3, 3], [1, 2, 3])

    noisy = poses[0].copy()
    noisy[:3, :3] *= 1.01
    np.testing.assert_allclose(tf.average_pose([noisy])[:3, :3], poses[0][:3, :3], atol=1e-12)


def test_errors():
    with pytest.raises(ValueError, match=r"^poseToTransformationMatrix: expected 6 elements \[x,y,z,rx,ry,rz\]$"):
        tf.pose_to_transformation_matrix([1, 2, 3])
    with pytest.raises(ValueError, match="^transformationMatrixToPose: expected a 4x4 matrix$"):
        tf.transformation_matrix_to_pose(np.eye(3))
    with pytest.raises(ValueError, match="^averagePose: poses must be non-empty$"):
        tf.average_pose([])
    with pytest.raises(ValueError, match="^averagePose: expected 4x4 matrices$"):
        tf.average_pose([np.eye(2)])
    with pytest.raises(TypeError):
        tf.transformation_matrix_to_pose(np.eye(4, dtype=np.int64))
