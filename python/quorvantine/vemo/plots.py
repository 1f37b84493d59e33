"""Pictures of a calibration as PNG files: where the corners fell, how far each view's
corners miss the model, how well hand-eye captures agree, how varied their rotations
are, and how the hand-eye solvers compare. Needs matplotlib (`pip install
quorvantine-vemo[plots]`); every function writes one file and returns its path.

Arrays: corner lists (N, 1, 2) or (N, 2) pixels, as IntrinsicResult.image_points holds
them; residuals (N, 2) pixels, as IntrinsicCalibrator.reprojection_residuals gives them;
poses 4x4 with translations in metres."""

import math
import pathlib

import numpy as np

DPI = 100


def _figure(width_in: float, height_in: float):
    try:
        from matplotlib.figure import Figure
    except ImportError as error:
        raise ImportError("quorvantine.vemo.plots needs matplotlib: pip install quorvantine-vemo[plots]") from error
    return Figure(figsize=(width_in, height_in), dpi=DPI, layout="constrained")


def _save(figure, path) -> pathlib.Path:
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(path, dpi=DPI)
    return path


def _labels(labels: list | None, count: int) -> list:
    """View labels as drawn: file names without their folders, which would run into each other."""
    return [pathlib.PurePath(str(label)).name for label in labels] if labels else [str(view) for view in range(count)]


def _points(corners) -> np.ndarray:
    return np.asarray(corners, dtype=float).reshape(-1, 2)


def coverage(image_points: list, image_size: tuple, path, title: str = "Corner coverage") -> pathlib.Path:
    """Heat map over the image frame (width, height) of where the detected corners of all
    views fell: blank regions are where the distortion model was not constrained."""
    width, height = image_size
    figure = _figure(8, 8 * height / width + 0.8)
    axes = figure.add_subplot()
    points = np.concatenate([_points(corners) for corners in image_points]) if image_points else np.zeros((0, 2))
    bins = (max(1, round(width / 40)), max(1, round(height / 40)))
    counts, _, _ = np.histogram2d(points[:, 0], points[:, 1], bins=bins, range=[[0, width], [0, height]])
    shown = axes.imshow(counts.T, extent=(0, width, height, 0), cmap="viridis", interpolation="nearest")
    figure.colorbar(shown, ax=axes, label="corners per cell")
    axes.set(title=f"{title}: {len(points)} corners in {len(image_points)} views", xlabel="u (px)",
             ylabel="v (px)", xlim=(0, width), ylim=(height, 0))
    return _save(figure, path)


def per_view_errors(errors: list, threshold: float, path, labels: list | None = None) -> pathlib.Path:
    """Bars of each view's RMS reprojection error, with the per-view threshold drawn;
    views above it are red."""
    labels = _labels(labels, len(errors))
    figure = _figure(max(6, 0.35 * len(errors) + 2), 4)
    axes = figure.add_subplot()
    colours = ["tab:red" if error > threshold else "tab:blue" for error in errors]
    axes.bar(range(len(errors)), errors, color=colours)
    axes.axhline(threshold, color="black", linestyle="--", label=f"threshold {threshold:g} px")
    axes.set_xticks(range(len(errors)), labels, rotation=90, fontsize=7)
    axes.set(title="Per-view RMS reprojection error (px)", xlabel="view", ylabel="RMS reprojection error (px)")
    axes.legend()
    return _save(figure, path)


def residual_vectors(image_points: list, residuals: list, image_size: tuple, path, worst: int = 4,
                     labels: list | None = None) -> pathlib.Path:
    """The residual vectors (detected minus projected, drawn enlarged) of the `worst` views
    with the largest RMS residual, each in its image frame."""
    labels = _labels(labels, len(residuals))
    rms = [math.sqrt(np.mean(np.sum(np.square(r), axis=1))) if len(r) else 0.0 for r in residuals]
    chosen = sorted(range(len(residuals)), key=lambda view: -rms[view])[:worst]
    width, height = image_size
    columns = min(2, max(1, len(chosen)))
    rows = max(1, math.ceil(len(chosen) / columns))
    figure = _figure(6 * columns, rows * (6 * height / width + 0.6))
    largest = max((np.max(np.linalg.norm(residuals[view], axis=1)) for view in chosen if len(residuals[view])),
                  default=0.0)
    scale = 0.05 * width / largest if largest > 0 else 1.0  # the longest arrow spans 5 % of the width
    for place, view in enumerate(chosen):
        axes = figure.add_subplot(rows, columns, place + 1)
        points, vectors = _points(image_points[view]), np.asarray(residuals[view], dtype=float)
        axes.quiver(points[:, 0], points[:, 1], vectors[:, 0], vectors[:, 1], angles="xy", scale_units="xy",
                    scale=1 / scale, color="tab:red", width=0.004)
        axes.scatter(points[:, 0], points[:, 1], s=3, color="tab:blue")
        axes.set(title=f"{labels[view]}: RMS {rms[view]:.3f} px (arrows x{scale:.0f})", xlabel="u (px)",
                 ylabel="v (px)", xlim=(0, width), ylim=(height, 0), aspect="equal")
    figure.suptitle(f"Reprojection residuals (detected minus projected) of the {len(chosen)} worst views")
    return _save(figure, path)


def outliers(values: list) -> list:
    """Indices of values more than three scaled median absolute deviations above the
    median: captures that disagree with the rest."""
    values = np.asarray(values, dtype=float)
    if len(values) < 3:
        return []
    median = np.median(values)
    spread = 1.4826 * np.median(np.abs(values - median))
    return [int(i) for i in np.flatnonzero(values > median + 3 * max(spread, 1e-12))]


def hand_eye_consistency(consistency, path) -> pathlib.Path:
    """Each capture's consistency residual (translation in mm, rotation in degrees) from a
    TargetConsistencyStats, outliers in red."""
    translations_mm = 1000 * np.asarray(consistency.translation_deviations_m)
    rotations_deg = np.asarray(consistency.rotation_deviations_deg)
    figure = _figure(max(6, 0.35 * len(translations_mm) + 2), 6)
    for row, (values, unit, name) in enumerate(((translations_mm, "mm", "translation"),
                                                 (rotations_deg, "deg", "rotation"))):
        axes = figure.add_subplot(2, 1, row + 1)
        marked = set(outliers(values))
        axes.bar(range(len(values)), values,
                 color=["tab:red" if i in marked else "tab:blue" for i in range(len(values))])
        axes.axhline(np.mean(values) if len(values) else 0.0, color="black", linestyle="--", label="mean")
        axes.set(title=f"Consistency residual, {name} ({len(marked)} outliers in red)", xlabel="capture",
                 ylabel=f"{name} ({unit})")
        axes.legend()
    return _save(figure, path)


def rotation_axes(camera_T_target_list: list, path) -> pathlib.Path:
    """The axis of every captured rotation relative to the first capture, as points on the
    unit sphere (coloured by the angle): axes bunched in one place mean the solve is weakly
    constrained about the others."""
    first = np.asarray(camera_T_target_list[0], dtype=float)[:3, :3]
    axes_list, angles = [], []
    for pose in camera_T_target_list[1:]:
        relative = first.T @ np.asarray(pose, dtype=float)[:3, :3]
        angle = math.acos(np.clip((np.trace(relative) - 1) / 2, -1, 1))
        axis = np.array([relative[2, 1] - relative[1, 2], relative[0, 2] - relative[2, 0],
                         relative[1, 0] - relative[0, 1]])
        if np.linalg.norm(axis) > 1e-12:
            axes_list.append(axis / np.linalg.norm(axis))
            angles.append(math.degrees(angle))
    figure = _figure(6, 6)
    axes = figure.add_subplot(projection="3d")
    u, v = np.mgrid[0:2 * np.pi:24j, 0:np.pi:12j]
    axes.plot_wireframe(np.cos(u) * np.sin(v), np.sin(u) * np.sin(v), np.cos(v), color="lightgrey", linewidth=0.5)
    if axes_list:
        points = np.array(axes_list)
        shown = axes.scatter(points[:, 0], points[:, 1], points[:, 2], c=angles, cmap="plasma", s=40)
        figure.colorbar(shown, ax=axes, shrink=0.6, label="rotation from the first capture (deg)")
    axes.set(title=f"Rotation axes of {len(axes_list)} captures", xlabel="axis x", ylabel="axis y",
             zlabel="axis z")
    axes.set_box_aspect((1, 1, 1))
    return _save(figure, path)


def _quaternion(rotation: np.ndarray) -> np.ndarray:
    """The unit quaternion (x, y, z, w) of a rotation matrix: the eigenvector of the largest
    eigenvalue of Bar-Itzhack's symmetric matrix, which stays exact near every angle."""
    r = rotation
    k = np.array([[r[0, 0] - r[1, 1] - r[2, 2], r[1, 0] + r[0, 1], r[2, 0] + r[0, 2], r[2, 1] - r[1, 2]],
                  [r[1, 0] + r[0, 1], r[1, 1] - r[0, 0] - r[2, 2], r[2, 1] + r[1, 2], r[0, 2] - r[2, 0]],
                  [r[2, 0] + r[0, 2], r[2, 1] + r[1, 2], r[2, 2] - r[0, 0] - r[1, 1], r[1, 0] - r[0, 1]],
                  [r[2, 1] - r[1, 2], r[0, 2] - r[2, 0], r[1, 0] - r[0, 1], r[0, 0] + r[1, 1] + r[2, 2]]]) / 3
    values, vectors = np.linalg.eigh(k)
    return vectors[:, np.argmax(values)]


def _rotation(q: np.ndarray) -> np.ndarray:
    x, y, z, w = q / np.linalg.norm(q)
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


def median_pose(poses: list) -> np.ndarray:
    """The median of 4x4 poses as diagnostics.assess_method_agreement takes it: of x, y and z
    each, and of each component of the unit quaternions (each turned to the side of the
    first), normalised. Unlike the mean, one wild pose among agreeing ones leaves it in place."""
    quaternions = [_quaternion(np.asarray(pose, dtype=float)[:3, :3]) for pose in poses]
    quaternions = [q if q @ quaternions[0] >= 0 else -q for q in quaternions]
    median = np.eye(4)
    median[:3, :3] = _rotation(np.median(quaternions, axis=0))
    median[:3, 3] = np.median([np.asarray(pose, dtype=float)[:3, 3] for pose in poses], axis=0)
    return median


def comparison_deviations(pose_by_method: dict, median) -> tuple:
    """What comparison() draws: each method's translation distance (mm) and rotation angle
    (deg) from the 4x4 pose `median`, in the order of pose_by_method."""
    median = np.asarray(median, dtype=float)
    poses = [np.asarray(pose, dtype=float) for pose in pose_by_method.values()]
    translations_mm = [1000 * np.linalg.norm(pose[:3, 3] - median[:3, 3]) for pose in poses]
    rotations_deg = [math.degrees(math.acos(np.clip((np.trace(pose[:3, :3].T @ median[:3, :3]) - 1) / 2, -1, 1)))
                     for pose in poses]
    return translations_mm, rotations_deg


def comparison(pose_by_method: dict, path, name: str = "tcp_T_camera", median=None) -> pathlib.Path:
    """Each solver's pose against their median (`median`, the 4x4 pose the comparison's text
    measures from; by default median_pose of the poses given): the translation difference in
    mm and the rotation difference in degrees."""
    methods = list(pose_by_method)
    if median is None:
        median = median_pose(list(pose_by_method.values()))
    translations_mm, rotations_deg = comparison_deviations(pose_by_method, median)
    figure = _figure(8, 4)
    for column, (values, unit, what) in enumerate(((translations_mm, "mm", "translation"),
                                                    (rotations_deg, "deg", "rotation"))):
        axes = figure.add_subplot(1, 2, column + 1)
        axes.bar(methods, values, color="tab:blue")
        axes.tick_params(axis="x", labelrotation=30)
        axes.set(title=f"{name}: {what} from the median", xlabel="hand-eye solver",
                 ylabel=f"{what} from the median ({unit})")
    return _save(figure, path)


def intrinsic_figures(directory, result, residuals: list, image_size: tuple, threshold: float,
                      labels: list | None = None, prefix: str = "") -> list:
    """coverage.png, per_view_errors.png and residuals.png of an IntrinsicResult, with the
    residuals of its calibrator (reprojection_residuals); prefix names a camera."""
    directory = pathlib.Path(directory)
    return [coverage(result.image_points, image_size, directory / f"{prefix}coverage.png"),
            per_view_errors(result.per_view_errors, threshold, directory / f"{prefix}per_view_errors.png", labels),
            residual_vectors(result.image_points, residuals, image_size, directory / f"{prefix}residuals.png",
                             labels=labels)]


def hand_eye_figures(directory, result) -> list:
    """consistency.png and rotation_axes.png of a HandEyeResult or EyeToHandResult."""
    directory = pathlib.Path(directory)
    written = []
    if result.has_consistency:
        written.append(hand_eye_consistency(result.consistency, directory / "consistency.png"))
    if len(result.camera_T_target_list) >= 2:
        written.append(rotation_axes(result.camera_T_target_list, directory / "rotation_axes.png"))
    return written


__all__ = ["coverage", "per_view_errors", "residual_vectors", "outliers", "hand_eye_consistency", "rotation_axes",
           "median_pose", "comparison_deviations", "comparison", "intrinsic_figures", "hand_eye_figures"]
