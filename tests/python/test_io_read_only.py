"""A read-only folder holding the journal of an interrupted save loads when the files the journal
protects are intact, and otherwise says which folder cannot be completed and why."""

import re
import subprocess

import numpy as np
import pytest

from _vemo import io


def make_read_only(path):
    """Remounts the tmpfs at `path` read-only (root ignores permission bits)."""
    remounted = subprocess.run(["mount", "-o", "remount,ro", str(path)], capture_output=True, text=True, timeout=60)
    if remounted.returncode != 0:
        pytest.skip(f"cannot remount a tmpfs read-only here: {remounted.stderr.strip()}")


def images(value):
    return [np.full((6, 8, 3), value + k, np.uint8) for k in range(3)]


def journal(folder, name, renames):
    lines = "".join(f"{temporary} {target}\n" for temporary, target in renames)
    (folder / name).write_text(f"vemo save journal 1\n{lines}end\n")


def test_read_only_folders_with_an_interrupted_save_load_when_their_files_are_intact(tmp_path, capfd, tmpfs):
    with tmpfs(tmp_path / "disk", "4m") as disk:
        check_read_only_loads(disk)
    capfd.readouterr()


def check_read_only_loads(disk):
    never_took_effect, all_in_place, half_renamed = disk / "pending", disk / "committed", disk / "half"
    for folder in (never_took_effect, all_in_place, half_renamed):
        io.save_hand_eye_dataset(folder, images(10), [np.eye(4)] * 3)
    # A save killed before it took effect: its temporary file was never read.
    (never_took_effect / ".image_00.png.tmp-1-0-0").write_bytes(b"half a PNG")
    journal(never_took_effect, ".vemo-save-pending", [(".image_00.png.tmp-1-0-0", "image_00.png")])
    # One killed after putting every file in place, before removing its journal.
    journal(all_in_place, ".vemo-save-committed", [(".image_01.png.tmp-1-0-0", "image_01.png")])
    # One killed midway through putting its files in place: old and new files side by side.
    (half_renamed / ".image_02.png.tmp-1-1-0").write_bytes(b"a new PNG")
    journal(half_renamed, ".vemo-save-committed", [(".image_01.png.tmp-1-0-0", "image_01.png"),
                                                    (".image_02.png.tmp-1-1-0", "image_02.png")])
    make_read_only(disk)

    for folder in (never_took_effect, all_in_place):
        loaded, poses = io.load_hand_eye_dataset(folder)
        assert all(np.array_equal(a, b) for a, b in zip(loaded, images(10))) and len(loaded) == 3
        assert len(poses) == 3
    with pytest.raises(RuntimeError, match=f"^io: cannot complete the interrupted save in "
                                           f"{re.escape(str(half_renamed))}: Read-only file system$"):
        io.load_hand_eye_dataset(half_renamed)
    with pytest.raises(RuntimeError, match="^io: cannot complete the interrupted save in "):
        io.save_hand_eye_dataset(never_took_effect, images(20), [np.eye(4)] * 3)
