#include "support/rtmp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/process.h"
#include "support/run.h"

namespace {

const char* kModule = "/usr/lib/nginx/modules/ngx_rtmp_module.so";

// A port nobody listens on now.
int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

bool accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

}  // namespace

RtmpServer::RtmpServer() {
  if (::access("/usr/sbin/nginx", X_OK) != 0 || ::access(kModule, R_OK) != 0) {
    why_ = "nginx or its RTMP module is missing: scripts/setup.sh installs nginx and libnginx-mod-rtmp";
    return;
  }
  dir_ = tempDir();
  port_ = freePort();
  std::ofstream conf(dir_ + "/nginx.conf");
  // publish_notify: players learn that the stream ended and stop.
  conf << "load_module " << kModule << ";\n"
       << "daemon off;\nmaster_process off;\n"
       << "pid " << dir_ << "/nginx.pid;\n"
       << "error_log " << dir_ << "/error.log info;\n"
       << "events { worker_connections 64; }\n"
       << "rtmp {\n  server {\n    listen 127.0.0.1:" << port_ << ";\n    chunk_size 4096;\n"
       << "    application live {\n      live on;\n      record off;\n      wait_key on;\n"
       << "      publish_notify on;\n    }\n  }\n}\n";
  conf.close();
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_ = spawn({"/usr/sbin/nginx", "-c", dir_ + "/nginx.conf", "-p", dir_ + "/"}, null, null, null);
  ::close(null);
  for (int i = 0; i < 100 && !accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!accepts(port_)) {
    why_ = "nginx did not start listening on port " + std::to_string(port_);
    ::kill(pid_, SIGKILL);
    waitExit(pid_);
    pid_ = -1;
  }
}

RtmpServer::~RtmpServer() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  waitExit(pid_);
}

std::string RtmpServer::url(const std::string& key) const {
  return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/" + key;
}

bool RtmpServer::waitForLog(const std::string& text, int timeoutMs) const {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    std::ifstream log(dir_ + "/error.log");
    std::stringstream all;
    all << log.rdbuf();
    if (all.str().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}
