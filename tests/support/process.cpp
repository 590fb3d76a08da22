#include "support/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

pid_t spawn(const std::vector<std::string>& argv, int in, int out, int err, pid_t group) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (group >= 0) ::setpgid(0, group);
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Move the chosen descriptors out of the way first, then into place.
    const int fds[3] = {in, out, err};
    int high[3];
    for (int i = 0; i < 3; ++i) high[i] = fds[i] < 0 ? -1 : ::fcntl(fds[i], F_DUPFD_CLOEXEC, 10);
    for (int i = 0; i < 3; ++i) {
      if (high[i] < 0) {
        ::close(i);
      } else {
        ::dup2(high[i], i);
      }
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (group >= 0) ::setpgid(pid, group == 0 ? pid : group);
  return pid;
}

int waitExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string capmuxPath() { return CAPMUX_PATH; }
