// Signal dispositions for the whole program, set in one place.
//
// SIGPIPE is ignored: a write to a pipe nobody reads fails with EPIPE, and
// the caller decides (standard error that went away only loses its lines;
// a consumer of the FLV that left ends the filter through SIGPIPE, restored
// and raised by dieOfSignal).
//
// SIGXFSZ is ignored too: a write past a file size limit fails with EFBIG,
// reported as any failed write is.
//
// SIGINT, SIGTERM and SIGHUP ask the program to stop. They are blocked in
// every thread and read from a signalfd, so they never interrupt a write or
// run a handler in the middle of a tag: the program looks at them where it
// waits for input (stopFd() is readable) and between records (stopRequests()).
#pragma once

// Installs the dispositions; call before any thread starts.
void setupSignals();

// Readable when a stop signal is waiting to be counted; -1 without one.
int stopFd();

// Counts the stop signals that have arrived so far and returns the total.
int stopRequests();

// The total counted so far, without looking for new ones (no system call).
int stopsCounted();

// The first stop signal that arrived, 0 if none.
int firstStopSignal();

// Ends the process by sig with its default action, so that the parent sees
// what ended it (a shell prints nothing for SIGINT and SIGPIPE; `timeout`
// and service managers see the signal they sent).
[[noreturn]] void dieOfSignal(int sig);
