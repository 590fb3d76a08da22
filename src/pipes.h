// Pipe tuning shared by the input and output sides.
#pragma once

// When fd is a pipe, grows its kernel buffer up to the system's
// pipe-max-size (capped at a few MiB): a 1080p frame then crosses in a few
// large copies instead of hundreds of 64 KiB ones. Silent when refused.
void enlargePipe(int fd);
