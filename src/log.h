// Lines on standard error: the start line, one progress line per tag and at
// most one error line. Each line leaves in a single write so that lines from
// a run never interleave with anything else written to the same terminal.
#pragma once

#if defined(__GNUC__)
#define CAP2FLV_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define CAP2FLV_PRINTF(a, b)
#endif

// Formats one line (the caller supplies the newline) and writes it to fd 2.
void logLine(const char* format, ...) CAP2FLV_PRINTF(1, 2);
