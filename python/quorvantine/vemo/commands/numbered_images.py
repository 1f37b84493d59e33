"""The numbered image files of a dataset folder (image_00.png, image_01.jpg, ...): a command's
captures, in whichever image format they were saved."""

import pathlib

# What cv::imread decodes, which io.load_images reads when given the files by name.
IMAGE_EXTENSIONS = (".png", ".jpg", ".jpeg", ".jpe", ".bmp", ".dib", ".tif", ".tiff", ".webp", ".jp2", ".pbm",
                    ".pgm", ".ppm", ".pnm")


def capture_order(capture: str) -> tuple:
    """image_99 before image_100; names that are no number (image_left) after every number."""
    number = capture[len("image_"):]
    return (0, int(number), capture) if number.isascii() and number.isdigit() else (1, 0, capture)


def numbered_images(folder: pathlib.Path, extensions: tuple[str, ...]) -> dict[str, pathlib.Path]:
    """The image files of folder named image_* with one of the extensions (any letter case), by
    capture (the file name without its extension: image_00) in capture order; annotated copies
    (image_00_annotated.png) left out. ValueError when a capture is there in two files."""
    files: dict[str, pathlib.Path] = {}
    for path in sorted(folder.iterdir()):
        if (not path.name.startswith("image_") or path.suffix.lower() not in extensions
                or path.stem.endswith("_annotated") or not path.is_file()):
            continue
        if path.stem in files:
            raise ValueError(f"{folder} holds {path.stem} twice ({files[path.stem].name} and {path.name}); keep one")
        files[path.stem] = path
    return dict(sorted(files.items(), key=lambda item: capture_order(item[0])))
