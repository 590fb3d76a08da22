// Helpers for the descriptors on either side of the filter.
#pragma once

// When fd is a pipe, grows its kernel buffer up to the system's
// pipe-max-size (capped at a few MiB): a 1080p frame then crosses in a few
// large copies instead of hundreds of 64 KiB ones. Never shrinks a pipe
// that is already larger. Silent when refused.
void enlargePipe(int fd);

// Waits until fd is ready for events (POLLIN or POLLOUT): what a descriptor
// in non-blocking mode needs after EAGAIN. Returns false on a poll error.
bool waitReady(int fd, short events);

// Waits until fd has input to read, watching the stop signals too (see
// signals.h). Stop: a stop signal came while the input was stalled, the
// input stalled after one, or a second one came: reading should end now.
enum class InputWait { Ready, Stop, Error };
InputWait waitForInput(int fd);
