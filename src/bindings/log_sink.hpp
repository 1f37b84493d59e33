#pragma once

namespace vemo::bindings {

// Sends the library's log lines to Python's sys.stderr (looked up at every line, so that
// contextlib.redirect_stderr and notebooks capture them), with the interpreter lock held.
// Without an interpreter, or with sys.stderr unset or failing, they go to the process's
// standard error as before.
void sendLogLinesToPythonStderr();

}  // namespace vemo::bindings
