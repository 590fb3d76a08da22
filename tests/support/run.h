// Runs a program the way a user's shell would: input from a file on its
// standard input, standard output and error captured, exit status reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct RunResult {
  Bytes out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

struct RunOptions {
  std::vector<std::string> args;  // after the program name
  long addressSpaceKiB = 0;       // ulimit -v for the child; 0 for none
  long fileSizeLimit = 0;         // largest file the child may write, in bytes; 0 for no limit
  std::string stdoutPath;         // where standard output goes instead of a captured file
  std::string stdinPath;          // where standard input comes from instead of the given bytes
};

RunResult runProgram(const std::string& program, const Bytes& input, const RunOptions& options = {});

// The filter under test, built alongside the tests.
RunResult runFilter(const Bytes& input, const RunOptions& options = {});
std::string filterPath();

// True when this build runs under AddressSanitizer, whose shadow memory
// cannot live under an address-space limit.
bool underAddressSanitizer();

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& data);

// A fresh directory under the system's temporary folder, removed at exit.
std::string tempDir();
