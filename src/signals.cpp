#include "signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace {

// Process-wide by nature, like the dispositions themselves.
struct StopState {
  int fd = -1;
  int count = 0;
  int first = 0;
};
StopState stops;

sigset_t stopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void setupSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  // Past a file size limit, a write fails with EFBIG and is reported like
  // any failed write, rather than killing the process without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  const sigset_t set = stopSet();
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return;
  stops.fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  // Without a signalfd the stop signals keep their default action.
  if (stops.fd < 0) ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

int stopFd() { return stops.fd; }

int stopRequests() {
  if (stops.fd < 0) return stops.count;
  signalfd_siginfo info;
  while (::read(stops.fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    if (stops.count++ == 0) stops.first = static_cast<int>(info.ssi_signo);
  }
  return stops.count;
}

int stopsCounted() { return stops.count; }

int firstStopSignal() { return stops.first; }

void dieOfSignal(int sig) {
  std::signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(sig);
  std::_Exit(128 + sig);  // not reached unless the signal is ignored by force
}
