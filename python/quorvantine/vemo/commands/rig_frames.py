"""The frames of a multi-camera capture directory in any image format: cam_00/image_00.jpg,
cam_01/image_00.jpg, ..., paired across the cameras by capture name."""

import pathlib

import _vemo
from quorvantine.vemo.commands.common_options import locked_folder
from quorvantine.vemo.commands.numbered_images import IMAGE_EXTENSIONS, capture_order, numbered_images


def load_rig_frames(data_dir: pathlib.Path, cameras: int) -> list[list]:
    """frames[camera][k]: camera's frame of the k-th capture, captures in capture order. A
    capture missing from one camera is an error, not a shorter list: frame k of every camera
    must show the same moment."""
    # The library's loads first finish a capture whose save a kill interrupted; so does its
    # capture counter, which reads no more than names. Then the frames are read under the
    # lock that keeps other processes' saves out meanwhile.
    _vemo.io.next_multi_camera_capture_index(data_dir, cameras)
    with locked_folder(str(data_dir)):
        return frames_of(data_dir, cameras)


def frames_of(data_dir: pathlib.Path, cameras: int) -> list[list]:
    folders = [data_dir / f"cam_{camera:02d}" for camera in range(cameras)]
    files = [numbered_images(folder, IMAGE_EXTENSIONS) for folder in folders]
    for folder, frames in zip(folders, files):
        if not frames:
            raise ValueError(f"rig: no frames (image_NN.png, .jpg, .bmp, .tif, ...) in {folder}")
    captures = sorted(set().union(*files), key=capture_order)
    for folder, frames in zip(folders, files):
        missing = next((capture for capture in captures if capture not in frames), None)
        if missing is not None:
            holder = next(other for other, held in zip(folders, files) if missing in held)
            raise ValueError(f"rig: {folder} has no frame {missing}, which {holder.name} has; captures must be "
                             "synchronized")
    return [_vemo.io.load_images([str(frames[capture]) for capture in captures])[0] for frames in files]
