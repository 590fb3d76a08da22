// cpu_time: runs a shell command and prints the CPU time it cost (user +
// system, all processes of the command, in seconds with microseconds) and
// the peak resident memory of its largest process in KiB.
//
//   cpu_time 'cat capture | cap2flv | cat > /dev/null'
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cpu_time 'shell command'\n");
    return 2;
  }
  const pid_t pid = ::fork();
  if (pid < 0) return 2;
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", argv[1], static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  // The shell waits for every process of its pipeline, so their costs are
  // in the shell's own rusage once it has ended.
  if (::wait4(pid, &status, 0, &usage) < 0) return 2;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%.6f %ld\n", cpu, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
