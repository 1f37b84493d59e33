#pragma once

// Long library calls run with the interpreter lock released, so that other Python threads
// go on meanwhile. Nothing in such a call reads a Python object: the conversions copied the
// arguments in before the release, and the result is converted after the lock is taken
// again. Reports reach sys.stdout through a sink that takes the interpreter lock for each
// report (report_output.hpp).
//
// A calibrator keeps state between calls, which two Python threads could now change at
// once. Calls on one object therefore run one at a time (object_calls.hpp); a call waits for
// the object only after releasing the interpreter lock, so that a thread waiting for the
// object never holds the interpreter lock that the running call needs for its report.

#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>

#include "bindings/object_calls.hpp"

namespace vemo::bindings {

// The Python name of a bound class, for the message of a refused call.
template <class Class>
std::string pythonClassName() {
  pybind11::gil_scoped_acquire gil;
  return pybind11::type::of<Class>().attr("__name__").template cast<std::string>();
}

// A binding for `method` that runs it without the interpreter lock, as the object's only
// running call. The arguments are taken by value, so that the call reads copies made while the
// interpreter lock was held (a bound object such as IntrinsicOptions would otherwise be
// read in place, where another thread may change it); the result is returned by value, so
// that a reference into the object is copied before the call lets the object go.
template <class Result, class Class, class... Args>
auto lockedWithoutGil(Result (Class::*method)(Args...)) {
  return [method](Class& self, std::decay_t<Args>... args) -> std::decay_t<Result> {
    pybind11::gil_scoped_release release;
    const ObjectCall call(&self, pythonClassName<Class>);
    return (self.*method)(args...);
  };
}

template <class Result, class Class, class... Args>
auto lockedWithoutGil(Result (Class::*method)(Args...) const) {
  return [method](const Class& self, std::decay_t<Args>... args) -> std::decay_t<Result> {
    pybind11::gil_scoped_release release;
    const ObjectCall call(&self, pythonClassName<Class>);
    return (self.*method)(args...);
  };
}

// The same for a free function, which has no object to lock.
template <class Result, class... Args>
auto withoutGil(Result (*function)(Args...)) {
  return [function](std::decay_t<Args>... args) -> std::decay_t<Result> {
    pybind11::gil_scoped_release release;
    return function(args...);
  };
}

}  // namespace vemo::bindings
