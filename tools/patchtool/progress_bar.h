#pragma once
// A one-line progress bar on standard error for work that takes a while. It appears only
// when standard error is a terminal and the work has run for a second, so quick runs,
// pipes, logs and --quiet stay silent.
#include <functional>
#include <mutex>
#include <string>

namespace patchtool {

class ProgressBar {
 public:
  // `enabled` false draws nothing at all (see ShowsProgress).
  ProgressBar(std::string label, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Any thread may report; fractions are clamped to [0, 1].
  void Set(double fraction);
  std::function<void(double)> Reporter() {
    return [this](double fraction) { Set(fraction); };
  }

 private:
  const std::string label_;
  const bool enabled_;
  const double started_;
  std::mutex mutex_;
  double last_drawn_ = 0;
  bool drawn_ = false;
};

// Whether a command should show progress: not with --quiet, and only to a terminal.
bool ShowsProgress(bool quiet);

// Seconds on a clock that only goes forwards, for timing work. (<chrono> cannot be compiled
// with the code page 932 execution charset: its "µs".)
double MonotonicSeconds();

}  // namespace patchtool
