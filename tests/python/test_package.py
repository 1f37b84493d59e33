"""The user-facing package: every submodule of the core importable by its dotted name."""

import importlib

import _vemo


def test_each_submodule_imports_by_its_dotted_name():
    for name in ("tf", "io", "diagnostics", "synthetic"):
        module = importlib.import_module(f"quorvantine.vemo.{name}")
        assert module is getattr(_vemo, name)
    from quorvantine.vemo.io import load_hand_eye_dataset
    assert load_hand_eye_dataset is _vemo.io.load_hand_eye_dataset
    scenes = importlib.import_module("quorvantine.vemo.scenes")
    assert callable(scenes.make_hand_eye_scene) and callable(scenes.render_orbit)
