// nginx with its RTMP module, started for one test or benchmark on a free
// loopback port with its own configuration and folder, and stopped when the
// object goes, whatever happened in between.
#pragma once

#include <sys/types.h>

#include <string>

class RtmpServer {
 public:
  // Starts the server and waits until it accepts connections; ok() says
  // whether it did (why() says why not).
  RtmpServer();
  ~RtmpServer();
  RtmpServer(const RtmpServer&) = delete;
  RtmpServer& operator=(const RtmpServer&) = delete;

  bool ok() const { return pid_ > 0; }
  const std::string& why() const { return why_; }
  // rtmp://127.0.0.1:PORT/live/KEY
  std::string url(const std::string& key) const;
  // True once the server's log holds text (for example "publish: name='KEY'"),
  // waiting up to timeoutMs.
  bool waitForLog(const std::string& text, int timeoutMs) const;

 private:
  std::string dir_, why_;
  int port_ = 0;
  pid_t pid_ = -1;
};
