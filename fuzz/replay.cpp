// fuzz_replay: runs the filter on every input file given or found under the
// given folders and checks that each run honours the rules every run must keep.
// Prints each input that breaks one; exit status 1 if any did.
#include <cstdio>
#include <filesystem>

#include "support/run.h"
#include "support/run_rules.h"

int main(int argc, char** argv) {
  std::size_t runs = 0, broken = 0;
  auto check = [&](const std::filesystem::path& file) {
    const RunResult run = runFilter(readFile(file.string()));
    ++runs;
    const std::string why = brokenRunRule(run);
    if (!why.empty()) {
      ++broken;
      std::printf("BROKEN %s: %s\n", file.c_str(), why.c_str());
    }
  };
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root = argv[i];
    if (std::filesystem::is_regular_file(root)) {
      check(root);
      continue;
    }
    if (!std::filesystem::is_directory(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      // AFL++ keeps a README.txt in its crash folders and state in dot files.
      const std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name != "README.txt" && name[0] != '.') check(entry.path());
    }
  }
  std::printf("fuzz_replay: %zu passed, %zu failed\n", runs - broken, broken);
  return broken == 0 ? 0 : 1;
}
