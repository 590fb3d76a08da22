// What every run of the filter must honour, whatever its input: exit status
// 0 or 1, at most one "ERRO" line and that one last on standard error,
// status 1 exactly when there is one, and output that is a well-formed FLV
// stream (or nothing at all, after a refused or unreadable capture header).
#pragma once

#include <string>

#include "support/run.h"

// Empty when the run honours every rule; otherwise what it broke.
std::string brokenRunRule(const RunResult& run);
