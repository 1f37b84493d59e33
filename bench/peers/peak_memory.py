"""Peak memory of one eye-in-hand run on a dataset folder, in a process of its own:

    python peak_memory.py library DATA_DIR -- ARGUMENTS OF `python -m quorvantine.vemo hand-eye`
    python peak_memory.py plain DATA_DIR -- ARGUMENTS OF plain_hand_eye.py after DATA_DIR

Prints the resident-set size after the imports and its peak, in bytes, and the decoded
size of the dataset's images. Everything the run prints goes to /dev/null.

The peak is the memory's high-water mark (VmHWM), not getrusage's ru_maxrss: Linux carries
ru_maxrss over an exec, so a process started by a large one (the benchmark, holding its
rendered images) would report the parent's size.
"""

import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).parent))


def status_bytes(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024  # kB
    raise RuntimeError(f"no {field} in /proc/self/status")


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
    baseline = status_bytes("VmRSS")
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
    peak = status_bytes("VmHWM")
    print(baseline, peak, decoded)


if __name__ == "__main__":
    main()
