// How qxtool and the window take the signals that would otherwise end them in the middle of a recording
// and leave its record file without its header block.
#pragma once

#include <atomic>

// Ctrl+C (SIGINT), a termination request (SIGTERM) and a hang-up (SIGHUP: the terminal or the ssh
// session went away) set the returned flag, which the program polls to end the normal way, so that a
// running recording stops and its record file gets its header block. A write to a pipe nobody reads any
// more (SIGPIPE) or past the file size limit (SIGXFSZ) no longer ends the program: the write fails with
// EPIPE or EFBIG and takes the writer's own failure path.
const std::atomic<bool>& InstallStopSignals();
