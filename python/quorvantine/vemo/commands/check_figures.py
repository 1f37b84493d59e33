"""What `vemo check` finds on new captures, whatever the calibration: the reprojection error of
each capture with the calibration held fixed, and the drift of each stored transform."""

import dataclasses

import _vemo
from quorvantine.vemo.commands.calibration_drift import drift_verdict
from quorvantine.vemo.projection import project_points, rms_px


@dataclasses.dataclass
class CheckFigures:
    fitted: str  # what the new captures determined while the calibration was held
    columns: list  # a name per camera whose error a row gives
    rows: list  # (capture name, [RMS px or None where the target was not found, per column])
    drifts: list  # Drift per stored transform

    def text(self) -> str:
        header = "".join(f"{column:>12}" for column in self.columns)
        lines = [f"\nReprojection with the calibration held fixed ({self.fitted}), RMS px:",
                 f"  {'capture':<16}{header}"]
        for name, values in self.rows:
            cells = "".join(f"{'-':>12}" if value is None else f"{value:12.3f}" for value in values)
            lines.append(f"  {name:<16}{cells}")
        lines.append("\nRe-solved from the new captures with the intrinsics held:")
        lines.extend(drift.line() for drift in self.drifts)
        return "\n".join(lines) + f"\nVerdict: {self.verdict()}\n"

    def verdict(self) -> str:
        return drift_verdict(self.drifts)

    @property
    def still_valid(self) -> bool:
        return not any(drift.moved for drift in self.drifts)

    def data(self) -> dict:
        return {"fitted": self.fitted,
                "captures": [{"capture": name, "rms_px": dict(zip(self.columns, values))}
                             for name, values in self.rows],
                "transforms": [drift.data() for drift in self.drifts],
                "still_valid": self.still_valid}


def reprojection_errors(target, images: list, camera_T_target_list: list, camera_matrix, dist_coeffs) -> list:
    """Per image, the RMS of its detected corners against their projection at camera_T_target
    (None where the target was not found or no pose is given)."""
    detections = _vemo.IntrinsicCalibrator(target).find_corners(images)
    errors = [None] * len(images)
    for index, image_points, object_points in zip(detections.successful_indices, detections.image_points,
                                                  detections.object_points):
        camera_T_target = camera_T_target_list[index]
        if camera_T_target is not None:
            errors[index] = rms_px(image_points, project_points(object_points, camera_T_target, camera_matrix,
                                                                dist_coeffs))
    return errors
