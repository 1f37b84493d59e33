#pragma once

// Called from Python, every report the library prints (a print_results call, or the report
// at the end of a run) goes through sys.stdout and is flushed: notebooks and
// contextlib.redirect_stdout capture it, and it stays in order with Python's own output.
namespace vemo::bindings {

// Installs the report sink that writes through sys.stdout (looked up at each report, so a
// redirection made after import is honoured).
void routeReportsToSysStdout();

}  // namespace vemo::bindings
