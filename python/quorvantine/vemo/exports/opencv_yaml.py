"""opencv-yaml: a file that cv::FileStorage reads, with the result's matrices under the keys
of the result file (lists of matrices as sequences, a missing pose as an empty matrix),
transforms as 4x4 matrices, and the image size as image_width and image_height."""

import numpy as np

HEADER = "%YAML:1.0\n---\n"


def opencv_matrix(values, indent: str) -> str:
    values = np.zeros((0, 0)) if values is None else np.asarray(values, dtype=float)
    if values.ndim == 1:
        values = values.reshape(1, -1)  # distortion coefficients, as OpenCV returns them
    rows, cols = values.shape
    data = ", ".join(repr(float(value)) for value in values.ravel())
    return (f"!!opencv-matrix\n{indent}rows: {rows}\n{indent}cols: {cols}\n{indent}dt: d\n"
            f"{indent}data: [{data}]\n")


def opencv_yaml(result) -> str:
    lines = [HEADER]
    if result.image_size is not None:
        width, height = result.image_size
        lines.append(f"image_width: {int(width)}\nimage_height: {int(height)}\n")
    for key, value in result.matrices.items():
        if isinstance(value, list):
            lines.append(f"{key}:\n" + "".join(f"   - {opencv_matrix(item, '      ')}" for item in value))
        else:
            lines.append(f"{key}: {opencv_matrix(value, '   ')}")
    return "".join(lines)
