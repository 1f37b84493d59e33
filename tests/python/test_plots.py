"""The figures of quorvantine.vemo.plots that no command draws, and the outlier rule."""

import _vemo as v
import numpy as np
import pytest
from conftest import assert_is_a_picture
from quorvantine.vemo import plots


def test_outliers_lie_three_scaled_deviations_above_the_median():
    # median 1.025, median absolute deviation 0.075: the limit is 1.025 + 3 * 1.4826 * 0.075 = 1.3586
    assert plots.outliers([1.0, 1.1, 0.9, 1.05, 0.95, 5.0]) == [5]
    assert plots.outliers([1.0, 1.1, 0.9, 1.05, 0.95, 1.35]) == []
    assert plots.outliers([2.0, 2.0, 2.0, 2.0]) == []
    assert plots.outliers([0.1, 9.0]) == []  # too few captures to call one an outlier


def test_comparison_and_rotation_axes_pictures(tmp_path):
    truth = v.tf.pose_to_transformation_matrix([0.03, -0.05, 0.1, 4, -3, 88])
    poses = {method: truth @ v.tf.pose_to_transformation_matrix([0.001 * k, 0, 0, 0.05 * k, 0, 0])
             for k, method in enumerate(["ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"])}
    assert_is_a_picture(plots.comparison(poses, tmp_path / "comparison.png"), (800, 400))
    captures = [v.tf.pose_to_transformation_matrix([0, 0, 0.5, 10 * k, -7 * k, 3 * k * k]) for k in range(6)]
    assert_is_a_picture(plots.rotation_axes(captures, tmp_path / "sub" / "axes.png"), (600, 600))


def test_the_solvers_are_drawn_against_their_median_which_one_outlier_does_not_move():
    truth = v.tf.pose_to_transformation_matrix([0.03, -0.05, 0.1, 4, -3, 88])
    # four solvers within 0.9 mm and 0.06 deg of each other along x and about z, one 30 mm and 3 deg off
    offsets = {"ANDREFF": (0.0002, 0.01), "DANIILIDIS": (-0.0003, 0.03), "HORAUD": (0.0006, -0.02),
               "PARK": (0.0001, 0.04), "TSAI": (0.03, 3.0)}
    poses = {name: truth @ v.tf.pose_to_transformation_matrix([dx, 0, 0, 0, 0, rz])
             for name, (dx, rz) in offsets.items()}
    median_dx, median_rz = (np.median([offset[i] for offset in offsets.values()]) for i in (0, 1))
    median = plots.median_pose(list(poses.values()))
    np.testing.assert_allclose(median, truth @ v.tf.pose_to_transformation_matrix([median_dx, 0, 0, 0, 0, median_rz]),
                               atol=1e-12)
    translations_mm, rotations_deg = plots.comparison_deviations(poses, median)
    assert translations_mm == pytest.approx([1000 * abs(dx - median_dx) for dx, _ in offsets.values()], abs=1e-9)
    assert rotations_deg == pytest.approx([abs(rz - median_rz) for _, rz in offsets.values()], abs=1e-6)
    assert max(translations_mm[:4]) < 0.9 and translations_mm[4] > 29
