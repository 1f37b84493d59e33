#pragma once

// Calls on one bound object wait for each other, and for nothing else: each object has a
// lock of its own for as long as a call runs on it or waits for it.
//
// A running call hands its log lines and reports to Python writers, which may call back into
// the library. A call that could only wait forever is refused instead:
// - a writer calling the object whose call it reports (the same thread holds the object);
// - writers of two threads calling each other's running objects (each waits for the other);
// - in a child process made by fork, an object that another thread of the parent was in a call
//   on at the fork: that thread does not exist in the child, and the object holds whatever its
//   interrupted call left.

#include <string>

namespace vemo::bindings {

// Marks `object` as running a call of this thread for the guard's lifetime. Waits while
// another thread runs a call on it; call it without the interpreter lock, which the running
// call may need. A refused call throws std::runtime_error whose message starts with
// class_name(), called only then (it may take the interpreter lock).
class ObjectCall {
 public:
  ObjectCall(const void* object, std::string (*class_name)());
  ~ObjectCall();
  ObjectCall(const ObjectCall&) = delete;
  ObjectCall& operator=(const ObjectCall&) = delete;

 private:
  const void* object_;
};

}  // namespace vemo::bindings
