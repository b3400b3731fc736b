#pragma once
// A test that runs past its time explains itself: shortly before CTest would kill the program,
// the stacks of all its threads are written to the test's output, then the program ends with
// a failure. Armed by IOBOX_TEST_WATCHDOG_SECONDS (set per test by CTest); off without it.

namespace testsupport {

// A program that ends abruptly says how: its output unbuffered (nothing is lost in a buffer when
// it dies), std::terminate and, on Windows, abort() and an unhandled exception reported on the
// error output. Called first in main.
void ReportAbruptEnds();

// Starts the watchdog for the whole run, after GoogleTest is initialised.
void StartWatchdog();

} // namespace testsupport
