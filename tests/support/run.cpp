#include "support/run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::string makeTempFile(const std::string& dir, const char* stem) {
  std::string pattern = dir + "/" + stem + "XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  return pattern;
}

struct TempRoot {
  std::string path;
  TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cap2flv-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempRoot() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

std::string tempDir() {
  static TempRoot root;
  static int counter = 0;
  std::string dir = root.path + "/d" + std::to_string(counter++);
  std::filesystem::create_directories(dir);
  return dir;
}

Bytes readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

RunResult runProgram(const std::string& program, const Bytes& input, const RunOptions& options) {
  const std::string dir = tempDir();
  const std::string inPath = makeTempFile(dir, "in");
  const std::string outPath = makeTempFile(dir, "out");
  const std::string errPath = makeTempFile(dir, "err");
  writeFile(inPath, input);

  std::vector<std::string> argv{program};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int in = ::open(options.stdinPath.empty() ? inPath.c_str() : options.stdinPath.c_str(), O_RDONLY);
    int out = ::open(options.stdoutPath.empty() ? outPath.c_str() : options.stdoutPath.c_str(), O_WRONLY | O_TRUNC);
    int err = ::open(errPath.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.addressSpaceKiB > 0) {
      rlimit limit{};
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.addressSpaceKiB) * 1024;
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (options.fileSizeLimit > 0) {
      rlimit limit{};
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execv(program.c_str(), cargv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  RunResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = readFile(outPath);
  Bytes err = readFile(errPath);
  result.err.assign(err.begin(), err.end());
  std::filesystem::remove(inPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return result;
}

std::string filterPath() { return CAP2FLV_PATH; }

RunResult runFilter(const Bytes& input, const RunOptions& options) {
  return runProgram(filterPath(), input, options);
}

bool underAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}
