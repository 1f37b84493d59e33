"""The lines that give a calibration's reprojection RMS after its report: the figure other
tools report, which the printed reports replace by their mean per-view error."""

import math


def format_rms_line(intrinsics: dict) -> str:
    """From the report data of an intrinsic calibration (report_data.intrinsics)."""
    views = intrinsics["per_view_errors"]
    corners = sum(view["corners"] for view in views)
    return (f"Reprojection RMS: {intrinsics['rms_px']:.4f} px over all {corners} corners of {len(views)} views "
            f"(the RMS other tools report; the Reprojection Error above is the mean per view of "
            f"residual norm / corners)\n")


def format_rig_rms_lines(result) -> str:
    """From a MultiCameraResult: each camera's intrinsic RMS and its pair's stereo RMS, for the
    cameras that have them (none for intrinsics given, none for the reference's pair)."""
    lines = []
    for camera, (intrinsic, pair) in enumerate(zip(result.intrinsic_rms_px, result.pair_reprojection_errors)):
        figures = ([f"intrinsic {intrinsic:.4f} px over all its corners"] if math.isfinite(intrinsic) else []) + \
                  ([f"stereo with the reference {pair:.4f} px"] if math.isfinite(pair) else [])
        if figures:
            lines.append(f"  cam_{camera}: " + ", ".join(figures) + "\n")
    if not lines:
        return ""
    return ("Reprojection RMS (the figure other tools report; the intrinsic RPE above is the mean per view of "
            "residual norm / corners):\n" + "".join(lines))


def format_shared_rms_line(rms_px: float) -> str:
    """After a comparison: the RMS of the one intrinsic calibration every solver's run shares."""
    if not math.isfinite(rms_px):
        return ""
    return (f"Reprojection RMS: {rms_px:.4f} px over all corners of the intrinsic calibration the solvers share "
            "(the RMS other tools report)\n")
