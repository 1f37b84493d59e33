"""The line that gives a calibration's reprojection RMS after its report: the figure other
tools report, which the printed reports replace by their mean per-view error."""


def format_rms_line(intrinsics: dict) -> str:
    """From the report data of an intrinsic calibration (report_data.intrinsics)."""
    views = intrinsics["per_view_errors"]
    corners = sum(view["corners"] for view in views)
    return (f"Reprojection RMS: {intrinsics['rms_px']:.4f} px over all {corners} corners of {len(views)} views "
            f"(the RMS other tools report; the Reprojection Error above is the mean per view of "
            f"residual norm / corners)\n")
