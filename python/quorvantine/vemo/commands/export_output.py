"""Writing exports: the files of `vemo export`, and those that --export writes beside a
calibrating command's result files."""

import argparse
import os

from quorvantine.vemo.commands.common_options import refined_result_path, result_file_path, write_text
from quorvantine.vemo.exports import FORMAT_SUFFIXES, FORMATS, export_files, load_result

# The closed-form hand-eye files hold no intrinsics, and their refinements no image size.
HAND_EYE_FORMATS = ("opencv-yaml", "tf-static", "ros2-launch")


def add_export_option(parser: argparse.ArgumentParser, result_file_name: str, formats: tuple = FORMATS) -> None:
    stem = result_file_name[:-len(".json")]
    parser.add_argument("--export", action="append", default=[], choices=formats, metavar="FORMAT",
                        help=f"also export each result file the run saves beside it ({stem}"
                             f"{FORMAT_SUFFIXES['tf-static']} and so on); one of {', '.join(formats)}; repeatable")


def write_export(files: list, output: str) -> list:
    """Writes what export_files gave: one file at `output`, or named files into the folder
    `output`. Every text exists before the first file is written, so a format that does not
    apply writes nothing. Returns the paths written."""
    paths = [output if name is None else os.path.join(output, name) for name, _ in files]
    for path, (_, text) in zip(paths, files):
        try:
            write_text(path, text)
        except OSError as error:
            raise ValueError(f"export: cannot write {path}: {error.strerror or error}") from None
    return paths


def export_beside(args: argparse.Namespace, output: str, result_file_name: str, refined: bool,
                  image_size: tuple | None = None) -> None:
    """--export: each format of the result file that the run saved for OUT (and of its
    refinement, when one was saved), beside it under the result's name with the format's
    suffix (a folder, without the .yaml, for a rig's camera_info files)."""
    result_paths = [result_file_path(output, result_file_name)]
    if refined:
        result_paths.append(refined_result_path(output, result_file_name))
    for result_path in result_paths:
        result = load_result(result_path, image_size)
        stem = result_path[:-len(".json")] if result_path.endswith(".json") else result_path
        for format_name in args.export:
            files = export_files(result, format_name)
            output_path = stem + FORMAT_SUFFIXES[format_name]
            if files[0][0] is not None:
                output_path = os.path.splitext(output_path)[0]
            for path in write_export(files, output_path):
                print(f"Exported {format_name}: {path}", flush=True)
