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
