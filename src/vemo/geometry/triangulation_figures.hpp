#pragma once

// How well triangulated board corners agree with the board and with the images: flatness,
// neighbour spacing and reprojection error per camera.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/geometry/corner_observations.hpp"

namespace vemo::geometry {

struct ReprojectionStats {
  std::vector<double> rms;  // per camera, pixels; NaN for a camera that saw none of the points
  std::vector<int> counts;  // per camera, points used; 0 for such a camera
};

// Third singular value of the centred N x 3 CV_64F cloud: the root of the summed squared
// distances from the best-fit plane, NOT divided by N (divide by sqrt(N) for an RMS
// distance). NaN for 2 points or fewer.
double coplanarityThickness(const cv::Mat& points);

// RMS distance between the projections of the points (N x 3 CV_64F, ids N x 1 CV_32S)
// and the pixels where each camera observed them (as detected, distorted), for every
// camera of the intrinsic list. Per camera and id only the first observation counts.
ReprojectionStats perCameraReprojectionRms(const cv::Mat& points, const cv::Mat& ids,
                                           const ObservationMap& observations,
                                           const std::vector<cv::Mat>& intrinsic_matrices,
                                           const std::vector<cv::Mat>& distortion_coefficients,
                                           const std::vector<cv::Mat>& reference_T_camera_list);

// Distances from each point to its right and lower neighbour on a ChArUco board of
// squares_x (>= 2) squares per row, whose corner ids run row by row: close to the square
// length when the rig is well calibrated. Per point in row order: right, then lower.
std::vector<double> boardNeighborDistances(const cv::Mat& points, const cv::Mat& ids, int squares_x);

}  // namespace vemo::geometry
