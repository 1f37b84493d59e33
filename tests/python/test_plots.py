"""The figures of quorvantine.vemo.plots that no command draws, and the outlier rule."""

import _vemo as v
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
