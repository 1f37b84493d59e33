"""io.load_images: image files named as on a command line."""

import pathlib

import _vemo as v
import matplotlib.image
import numpy as np
import pytest


def test_files_folders_and_patterns_in_order_each_file_once(tmp_path, rng):
    pictures = {name: rng.integers(0, 256, (6, 8, 3), dtype=np.uint8) for name in ("b.png", "a.PNG", "c.png")}
    for name, picture in pictures.items():
        matplotlib.image.imsave(tmp_path / name, picture[:, :, ::-1])  # written as RGB, read back as BGR
    (tmp_path / "notes.txt").write_text("not an image")
    (tmp_path / "inner").mkdir()
    matplotlib.image.imsave(tmp_path / "inner" / "d.jpg", np.full((6, 8, 3), 90, np.uint8))

    images, paths = v.io.load_images([str(tmp_path / "c.png"), str(tmp_path), str(tmp_path / "inner" / "*.jpg"),
                                      str(tmp_path / "?.png")])
    assert [path.name for path in paths] == ["c.png", "a.PNG", "b.png", "d.jpg"]
    assert all(isinstance(path, pathlib.Path) for path in paths)
    for name in ("c.png", "a.PNG", "b.png"):
        np.testing.assert_array_equal(images[[p.name for p in paths].index(name)], pictures[name])
    assert images[3].shape == (6, 8, 3) and abs(int(images[3].mean()) - 90) <= 2  # JPEG is lossy


def test_what_cannot_be_read_is_named(tmp_path):
    with pytest.raises(ValueError, match="^loadImages: no paths given$"):
        v.io.load_images([])
    with pytest.raises(RuntimeError, match="^io: no image file matches .*\\*.png$"):
        v.io.load_images([str(tmp_path / "*.png")])
    with pytest.raises(RuntimeError, match="^io: no image file matches .*missing/\\*.png$"):
        v.io.load_images([str(tmp_path / "missing" / "*.png")])
    with pytest.raises(RuntimeError, match="^io: no image file matches "):
        v.io.load_images([str(tmp_path)])
    with pytest.raises(RuntimeError, match="^io: cv::imread returned an empty image for .*absent.png$"):
        v.io.load_images([str(tmp_path / "absent.png")])
