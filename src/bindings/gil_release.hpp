#pragma once

// Long library calls run with the interpreter lock released, so that other Python threads
// go on meanwhile. Nothing in such a call reads a Python object: the conversions copied the
// arguments in before the release, and the result is converted after the lock is taken
// again. Reports written through a py::scoped_ostream_redirect (and any sink that calls
// into Python) take the interpreter lock for each write.
//
// A calibrator keeps state between calls, which two Python threads could now change at
// once. Calls on one object therefore hold a lock of that object for their duration; they
// take it only after releasing the interpreter lock, so that a thread waiting for the object
// never holds the interpreter lock that the running call needs for its report.

#include <pybind11/iostream.h>
#include <pybind11/pybind11.h>

#include <mutex>
#include <type_traits>
#include <utility>

namespace vemo::bindings {

// std::cout is one for the whole process, and a py::scoped_ostream_redirect swaps its
// buffer: two calls redirecting it at once would each restore the buffer they found, one
// of them the other's (then destroyed) Python buffer. Such calls take turns: a guard to
// place before the redirect in a call_guard. It waits for its turn without the interpreter
// lock, as the call holding the turn needs that lock for its report.
class StdoutTurn {
 public:
  StdoutTurn();
  ~StdoutTurn();
  StdoutTurn(const StdoutTurn&) = delete;
  StdoutTurn& operator=(const StdoutTurn&) = delete;
};
using RedirectStdout = pybind11::call_guard<StdoutTurn, pybind11::scoped_ostream_redirect>;

// The lock of an object, from a fixed table by address: objects that share a slot only
// wait for each other.
std::mutex& objectLock(const void* object);

// A binding for `method` that runs it without the interpreter lock and under the object's
// lock. The result is returned by value, so that a reference into the object is copied
// while the object is locked.
template <class Result, class Class, class... Args>
auto lockedWithoutGil(Result (Class::*method)(Args...)) {
  return [method](Class& self, Args... args) -> std::decay_t<Result> {
    pybind11::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(objectLock(&self));
    return (self.*method)(std::forward<Args>(args)...);
  };
}

template <class Result, class Class, class... Args>
auto lockedWithoutGil(Result (Class::*method)(Args...) const) {
  return [method](const Class& self, Args... args) -> std::decay_t<Result> {
    pybind11::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(objectLock(&self));
    return (self.*method)(std::forward<Args>(args)...);
  };
}

}  // namespace vemo::bindings
