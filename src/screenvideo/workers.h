// A small pool of coding threads. A job of count items starts with none of
// them available; the caller releases items as their input arrives, and
// finish() codes what is left on the calling thread too and returns once
// every item is done, so a frame is always coded in full before anything of
// it is written.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace screenvideo {

class Workers {
 public:
  // work(item, worker): worker is 0 for the calling thread, 1..threads-1 for
  // the pool's own, so each can keep its scratch apart.
  using Work = std::function<void(std::size_t item, unsigned worker)>;

  explicit Workers(unsigned threads);
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  unsigned size() const { return static_cast<unsigned>(threads_.size()) + 1; }

  // work must stay alive until finish() returns.
  void start(std::size_t count, const Work& work);
  // Items below available may now be taken.
  void release(std::size_t available);
  void finish();

 private:
  void loop(unsigned worker);

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const Work* work_ = nullptr;
  std::size_t count_ = 0, available_ = 0, next_ = 0, finished_ = 0;
  bool stop_ = false;
};

// Cores this process may run on.
unsigned availableCores();

}  // namespace screenvideo
