"""How far a transform re-solved from new captures lies from the stored calibration, and
whether that is a move: beyond both three standard deviations of the new estimate (what its
own noise could explain) and the user's tolerance (what the cell can live with)."""

import dataclasses
import math

import numpy as np


@dataclasses.dataclass
class Drift:
    name: str  # the transform's key in the calibration file, e.g. tcp_T_camera
    translation_mm: float
    rotation_deg: float
    sigma_translation_mm: float  # 1-sigma of the new estimate's translation, all axes together
    sigma_rotation_deg: float
    tolerance_mm: float
    tolerance_deg: float

    @property
    def moved_translation(self) -> bool:
        return self.translation_mm > max(3 * self.sigma_translation_mm, self.tolerance_mm)

    @property
    def moved_rotation(self) -> bool:
        return self.rotation_deg > max(3 * self.sigma_rotation_deg, self.tolerance_deg)

    @property
    def moved(self) -> bool:
        return self.moved_translation or self.moved_rotation

    def line(self) -> str:
        state = "MOVED" if self.moved else "still valid"
        return (f"  {self.name}: {state}: {self.translation_mm:.3f} mm, {self.rotation_deg:.3f} deg from the "
                f"calibration (3 sigma {3 * self.sigma_translation_mm:.3f} mm, {3 * self.sigma_rotation_deg:.3f} deg; "
                f"tolerance {self.tolerance_mm:g} mm, {self.tolerance_deg:g} deg)")

    def data(self) -> dict:
        return {**dataclasses.asdict(self), "moved": self.moved}


def drift(name: str, stored: np.ndarray, estimate: np.ndarray, sigma_translation_mm, sigma_rotation_deg,
          tolerance_mm: float, tolerance_deg: float) -> Drift:
    """stored and estimate: (4, 4) a_T_b in metres; the sigmas per axis (mm, degrees)."""
    relative = np.linalg.inv(stored) @ estimate
    cosine = np.clip((np.trace(relative[:3, :3]) - 1) / 2, -1.0, 1.0)
    return Drift(name, 1000 * float(np.linalg.norm(estimate[:3, 3] - stored[:3, 3])), math.degrees(math.acos(cosine)),
                 float(np.linalg.norm(sigma_translation_mm)), float(np.linalg.norm(sigma_rotation_deg)),
                 tolerance_mm, tolerance_deg)


def drift_verdict(drifts: list) -> str:
    """"still valid", or "moved: " and each moved transform with its distances."""
    moved = [f"{d.name} by {d.translation_mm:.3f} mm and {d.rotation_deg:.3f} deg" for d in drifts if d.moved]
    return f"moved: {'; '.join(moved)}" if moved else "still valid"
