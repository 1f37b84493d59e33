"""Peak memory of one eye-in-hand run on a dataset folder, in a process of its own:

    python peak_memory.py library DATA_DIR -- ARGUMENTS OF `python -m quorvantine.vemo hand-eye`
    python peak_memory.py plain DATA_DIR -- ARGUMENTS OF plain_hand_eye.py after DATA_DIR
    python peak_memory.py COMMAND DATA_DIR -- ARGUMENTS   (COMMAND: compare, benchmark, ... of the library)

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


def image_size(path: pathlib.Path) -> tuple[int, int]:
    """(width, height) from a PNG's header or a JPEG's start-of-frame segment."""
    data = path.read_bytes()
    if data.startswith(b"\x89PNG"):
        return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
    position = 2
    while position + 9 < len(data):
        marker, length = data[position + 1], int.from_bytes(data[position + 2:position + 4], "big")
        if marker in (0xC0, 0xC1, 0xC2):
            return (int.from_bytes(data[position + 7:position + 9], "big"),
                    int.from_bytes(data[position + 5:position + 7], "big"))
        position += 2 + length
    raise ValueError(f"{path}: no image size found")


def decoded_bytes(data_dir: pathlib.Path) -> int:
    """Bytes of the dataset's images (image_NN.png or .jpg) decoded as 8-bit BGR, from their
    headers (decoding them here would change the allocator's state before the run)."""
    total = 0
    for path in sorted(data_dir.glob("image_*")):
        if path.stem[len("image_"):].isdigit() and path.suffix in (".png", ".jpg"):
            width, height = image_size(path)
            total += width * height * 3
    return total


def main() -> None:
    runner, data_dir, _, *arguments = sys.argv[1:]
    decoded = decoded_bytes(pathlib.Path(data_dir))
    if runner != "plain":
        from quorvantine.vemo import cli
        command = "hand-eye" if runner == "library" else runner

        def run():
            cli.main([command, data_dir, *arguments])
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
