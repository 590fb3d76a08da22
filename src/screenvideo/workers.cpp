#include "screenvideo/workers.h"

#include <sched.h>

#include <algorithm>

namespace screenvideo {

Workers::Workers(unsigned threads) {
  for (unsigned i = 1; i < threads; ++i) threads_.emplace_back([this, i] { loop(i); });
}

Workers::~Workers() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void Workers::loop(unsigned worker) {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || next_ < available_; });
    if (stop_) return;
    const std::size_t item = next_++;
    lock.unlock();
    (*work_)(item, worker);
    lock.lock();
    if (++finished_ == count_) done_.notify_all();
  }
}

void Workers::start(std::size_t count, const Work& work) {
  std::lock_guard lock(mutex_);
  work_ = &work;
  count_ = count;
  available_ = next_ = finished_ = 0;
}

void Workers::release(std::size_t available) {
  {
    std::lock_guard lock(mutex_);
    available_ = std::min(std::max(available, available_), count_);
  }
  wake_.notify_all();
}

void Workers::finish() {
  std::unique_lock lock(mutex_);
  available_ = count_;
  wake_.notify_all();
  while (next_ < count_) {
    const std::size_t item = next_++;
    lock.unlock();
    (*work_)(item, 0);
    lock.lock();
    ++finished_;
  }
  done_.wait(lock, [&] { return finished_ == count_; });
  work_ = nullptr;
}

unsigned availableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace screenvideo
