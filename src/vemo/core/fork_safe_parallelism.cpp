#include "vemo/core/fork_safe_parallelism.hpp"

#include <pthread.h>

#include <memory>
#include <opencv2/core/parallel/parallel_backend.hpp>

namespace vemo {

namespace {

class CallingThreadLoops final : public cv::parallel::ParallelForAPI {
 public:
  void parallel_for(int tasks, FN_parallel_for_body_cb_t body, void* data) override { body(0, tasks, data); }
  int getThreadNum() const override { return 0; }
  int getNumThreads() const override { return 1; }
  int setNumThreads(int) override { return 1; }
  const char* getName() const override { return "calling thread (forked child)"; }
};

// Not propagating the thread count: that would reach into the inherited pool, the very thing
// that hangs.
void useCallingThreadLoops() {
  cv::parallel::setParallelForBackend(std::make_shared<CallingThreadLoops>(), false);
}

}  // namespace

void runParallelLoopsSeriallyInForkedChildren() {
  static const int registered = pthread_atfork(nullptr, nullptr, useCallingThreadLoops);
  (void)registered;
}

}  // namespace vemo
