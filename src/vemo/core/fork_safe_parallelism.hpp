#pragma once

namespace vemo {

// OpenCV's thread pool (TBB in Debian's builds) does not survive fork(): the child inherits the
// pool's bookkeeping, with arena slots held by threads it does not have, and its first parallel
// loop can wait for them forever. After this call, every process forked from this one runs
// OpenCV's parallel loops on its calling thread; the process itself keeps the pool. Calling it
// again does nothing.
void runParallelLoopsSeriallyInForkedChildren();

}  // namespace vemo
