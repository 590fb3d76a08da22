// Lines on standard error: the start line, one progress line per tag and at
// most one error line. Each line leaves in a single write so that lines from
// a run never interleave with anything else written to the same terminal.
//
// Standard error only informs: whatever becomes of it (closed, a reader that
// left, full) never changes what the filter does with its data. After the
// first failed write no more progress lines are attempted.
#pragma once

#if defined(__GNUC__)
#define CAP2FLV_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define CAP2FLV_PRINTF(a, b)
#endif

class Log {
 public:
  explicit Log(bool progress = true) : progress_(progress) {}

  // The start line and the per-tag lines (the caller supplies the newline);
  // dropped under --quiet.
  void progress(const char* format, ...) CAP2FLV_PRINTF(2, 3);
  // The run's error line, written even under --quiet.
  void error(const char* format, ...) CAP2FLV_PRINTF(2, 3);

 private:
  bool progress_;
  bool broken_ = false;
};
