import contextlib
import os
import subprocess

import numpy as np
import pytest


@pytest.fixture
def rng():
    return np.random.default_rng(12345)


def assert_is_a_picture(path, size):
    """A PNG of `size` (width, height) pixels, give or take the rounding of one, with
    something drawn on it."""
    import _vemo
    (image,), _ = _vemo.io.load_images([str(path)])
    assert np.abs(np.subtract(image.shape[1::-1], size)).max() <= 1
    assert len(np.unique(image.reshape(-1, 3), axis=0)) > 20 and image.std() > 10


@contextlib.contextmanager
def mounted_tmpfs(path, size):
    """A tmpfs of `size` ("192k") mounted on the new folder `path` for the block; the test is
    skipped where mounting is not possible (not root, or no permission to mount)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    path.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(path)],
                             capture_output=True, text=True, timeout=60)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip()}")
    try:
        yield path
    finally:
        subprocess.run(["umount", str(path)], check=True, timeout=60)


@pytest.fixture
def tmpfs():
    """mounted_tmpfs, for tests that need a file system of their own."""
    return mounted_tmpfs
