#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <vector>

#include "rendered_views.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/targets/annotation.hpp"
#include "vemo/targets/target_detection.hpp"

namespace views = vemo::test_views;

// Annotations are drawn when first asked for: the pixels must be those of drawing on a copy
// at detection time, and the image detected in must stay untouched.
TEST(Annotation, DrawsOnACopyWhenFirstAskedForAndCopiesShareTheDrawing) {
  const vemo::ChessboardTarget board{cv::Size(9, 6), 0.03};
  const vemo::synthetic::Renderer renderer(board, views::testCameraMatrix(), views::testDistCoeffs(),
                                           views::testImageSize());
  const cv::Mat image = renderer.render(views::testViews(board, 0.6)[1]);
  const cv::Mat pristine = image.clone();
  vemo::DetectionSettings settings;
  settings.annotate = true;
  const std::optional<vemo::TargetView> view = vemo::TargetDetector(board, settings).detect(image);
  ASSERT_TRUE(view);

  cv::Mat expected = image.clone();
  cv::drawChessboardCorners(expected, board.size, view->image_points, true);
  const vemo::Annotation copy = view->annotation;
  const cv::Mat& drawn = copy.image();
  ASSERT_EQ(drawn.size(), image.size());
  EXPECT_EQ(cv::norm(drawn, expected, cv::NORM_INF), 0.0);
  EXPECT_GT(cv::norm(drawn, image, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::norm(image, pristine, cv::NORM_INF), 0.0);
  EXPECT_EQ(view->annotation.image().data, drawn.data);
  EXPECT_TRUE(vemo::Annotation().image().empty());

  vemo::AnnotatedImages batch;
  batch.push_back(view->annotation);
  batch.push_back(vemo::Annotation());
  const std::vector<cv::Mat> all = batch;
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].data, drawn.data);
  EXPECT_TRUE(all[1].empty());
}
