// Starts programs on descriptors the test chooses, for runs that need real
// pipes, closed descriptors or signals.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts argv[0] with the given descriptors as 0, 1 and 2 (-1: closed) and
// SIGPIPE at its default, as a shell would. newGroup puts it in a process
// group of its own (its id), so a signal can reach a whole pipeline.
pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err, pid_t group = -1);

// Waits for pid: its exit status, or 128 + the signal that ended it.
int waitExit(pid_t pid);

// The capmux built alongside the tests.
std::string capmuxPath();
