"""Peak memory of one eye-in-hand run on a dataset folder, in a process of its own:

    python peak_memory.py library DATA_DIR -- ARGUMENTS OF `python -m quorvantine.vemo hand-eye`
    python peak_memory.py plain DATA_DIR -- ARGUMENTS OF plain_hand_eye.py after DATA_DIR

Prints the resident-set size after the imports and the peak (ru_maxrss), in bytes, and the
decoded size of the dataset's images. Everything the run prints goes to /dev/null.
"""

import os
import pathlib
import resource
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def decoded_bytes(data_dir: pathlib.Path) -> int:
    """Bytes of the images decoded as 8-bit BGR, from the PNG headers (decoding them here
    would change the allocator's state before the run)."""
    total = 0
    for path in sorted(data_dir.glob("image_[0-9][0-9].png")):
        header = path.read_bytes()[:24]
        total += int.from_bytes(header[16:20], "big") * int.from_bytes(header[20:24], "big") * 3
    return total


def main() -> None:
    runner, data_dir, _, *arguments = sys.argv[1:]
    decoded = decoded_bytes(pathlib.Path(data_dir))
    if runner == "library":
        from quorvantine.vemo import cli

        def run():
            cli.main(["hand-eye", data_dir, *arguments])
    else:
        import plain_hand_eye

        def run():
            plain_hand_eye.main([data_dir, *arguments])
    baseline = resident_bytes()
    devnull = os.open(os.devnull, os.O_WRONLY)
    saved = os.dup(1), os.dup(2)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    try:
        run()
    finally:
        sys.stdout.flush()
        sys.stderr.flush()
        os.dup2(saved[0], 1)
        os.dup2(saved[1], 2)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(baseline, peak, decoded)


if __name__ == "__main__":
    main()
