#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

// A multi-camera capture directory: one folder per camera, one image per capture.
//   cam_00/image_00.png, cam_00/image_01.png, ...   frame of camera 0 at capture 0, 1, ...
//   cam_01/image_00.png, ...                        (indices zero-filled to two digits at least)
//   cam_CC/image_KK_annotated.png                   optional annotated copies, never read back
//   cam_CC/calibration_data.npz                     optional robot poses, the same in every folder
// Frame files and camera folder names: frame_names.hpp.
namespace vemo::io {

// data_dir / ("cam_" + the camera number zero-filled to two digits): cam_00, cam_07, cam_100.
// Callers name each folder as they reach it, so a huge camera count costs no memory.
std::filesystem::path cameraDirectory(const std::filesystem::path& data_dir, int camera);

// Throws std::length_error "<operation>: negative camera count" for a negative count.
void requireCameraCount(const std::string& operation, int count);

// One more than the largest capture number (the all-digit text after the last "_" of a
// frame file name) in the first num_cameras camera folders; 0 when there is none or the
// folders are missing. Gaps are not filled. A capture whose save a kill interrupted is
// finished first. The cost follows the folders present, not num_cameras. Throws
// std::out_of_range("stoi: io: nextMultiCameraCaptureIndex: capture number <digits> of
// <file> is beyond the int range") for a number beyond the int range.
int nextMultiCameraCaptureIndex(const std::filesystem::path& data_dir, int num_cameras);

// Writes frames[i] as cam_<i>/image_<capture_index>.png, creating all camera folders
// first, each annotated image right after the frame of the same camera, as one change
// that a kill never leaves half done: the capture is then in every camera folder or in
// none (files_together.hpp). Throws std::invalid_argument "saveMultiCameraCapture: ..."
// before writing anything for a negative capture_index, when annotated_images is neither
// empty nor as long as frames, or for an image that would not read back as saved (see
// requireSavableImages). A file that cannot be written throws
// "io: cv::imwrite failed for <path>" (": no space left on device" appended for a full
// disk); a folder that held a capture then loads as before, in any other the files before
// it are in place.
void saveMultiCameraCapture(const std::filesystem::path& data_dir, const std::vector<cv::Mat>& frames,
                            int capture_index, const std::vector<cv::Mat>& annotated_images);

// Writes the pose archive into each of the first num_cameras camera folders (none for
// 0), creating them, as one change that a kill never leaves half done. Throws std::invalid_argument "io: expected 4x4 pose matrices"
// before creating anything.
void saveMultiCameraRobotPoses(const std::filesystem::path& data_dir, const std::vector<cv::Mat>& robot_T_tcp_list,
                               int num_cameras);

// The poses (4x4 CV_64F) of the first folder named "cam_..." (in byte-wise name order)
// that holds a pose archive; empty when data_dir is not a directory or no folder has one.
// A save that a kill interrupted is finished first.
std::vector<cv::Mat> loadMultiCameraRobotPoses(const std::filesystem::path& data_dir);

// result[i][k]: frame k of camera i, the frame files of each camera folder read in
// capture order (capturesInOrder: image_99.png before image_100.png) as 3-channel 8-bit
// BGR, after finishing a save that a kill interrupted. Empty for num_cameras <= 0.
// Throws std::runtime_error for a missing camera folder, a folder without frame files,
// when the cameras hold different numbers of frames, and, after reading every camera,
// "io: missing frame file <path>; captures must be synchronized" when they hold as many
// but not the same names: the path names the first capture a camera lacks.
std::vector<std::vector<cv::Mat>> loadMultiCameraDataset(const std::filesystem::path& data_dir, int num_cameras);

}  // namespace vemo::io
