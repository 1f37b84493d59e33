#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// A hand-eye dataset directory: one image per view and the robot flange pose of every
// view.
//   calibration_data.npz       robot_T_tcp_list, float64 (N, 4, 4)
//   image_00.png, image_01.png, ...            image i (two digits at least: image_100.png)
//   image_00_annotated.png, ...                optional annotated copies, never read back
namespace vemo::io {

// Creates data_dir (with its parents) and writes the pose archive and image i as
// "image_" + index + ".png", each annotated image right after its plain one, as one
// change that a kill never leaves half done (files_together.hpp): a later load sees the
// old dataset or the new one. Images and poses are not required to be equally many.
// Existing files are replaced, every other file stays (those of an earlier, larger
// dataset too). Throws std::invalid_argument "saveHandEyeDataset: ..." before writing
// anything when annotated_images is neither empty nor as long as images or an image
// would not read back as saved (see requireSavableImages), and "io: expected 4x4 pose
// matrices" for a pose that is not 4x4 (poses of any numeric depth are stored as
// float64). A file that cannot be written throws "io: cv::imwrite failed for <path>"
// (the archive: "npz: cannot write <path>: <reason>"), with ": no space left on device"
// appended for a full disk; a folder that held a dataset then loads as before, in any
// other the files before it are in place.
void saveHandEyeDataset(const std::filesystem::path& data_dir, const std::vector<cv::Mat>& images,
                        const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& annotated_images);

// The images and the poses (4x4 CV_64F) of a dataset, after finishing a save that a kill
// interrupted. Image i is read from "image_" + index + "." + image_format for pose i.
// Images may be missing only at the end: the images that exist then pair with the first
// poses, so the image list can be shorter than the pose list (callers compare the
// counts). A missing image followed by one that exists throws std::runtime_error
// "io: missing image file <path of the first missing one>". Images come back as
// 3-channel 8-bit BGR.
std::pair<std::vector<cv::Mat>, std::vector<cv::Mat>> loadHandEyeDataset(const std::filesystem::path& data_dir,
                                                                          const std::string& image_format);

}  // namespace vemo::io
