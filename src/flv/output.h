// The FLV byte stream's way out: a small buffer in front of standard output.
//
// Field writers append a few bytes at a time; tag payloads go out together
// with whatever is buffered in one writev, so a whole tag normally leaves in a
// single system call. Nothing is ever sought back: the stream can feed a pipe.
//
// Writes complete whatever happens on the way: partial writes, signals, and
// EAGAIN on a descriptor in non-blocking mode (we wait until it is writable).
// The first write error is remembered (errno) and every later write is
// dropped; the run control looks at outputFailed() before each read and at the
// end of the run. EPIPE (SIGPIPE is ignored) means the consumer went away:
// the run control then ends the process through SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>

// Appends n bytes to the stream.
void writeBytes(const void* data, std::size_t n);

// Hands everything buffered to the kernel. Returns false once any write failed.
bool flushOutput();

bool outputFailed();
int outputErrno();

// Where the stream goes (standard output unless a test says otherwise).
// Discards anything buffered and clears the error.
void resetOutput(int fd);

// Asks the kernel for a larger pipe when standard output is one: fewer
// wake-ups of the consumer per frame. Best effort; refusals are ignored.
void enlargeOutputPipe();
