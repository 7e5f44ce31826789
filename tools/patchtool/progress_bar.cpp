#include "tools/patchtool/progress_bar.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace patchtool {
namespace {

constexpr double kQuietFor = 1.0;      // seconds before the bar appears
constexpr double kRedrawEvery = 0.1;   // seconds between redraws
constexpr int kWidth = 30;             // characters of the bar itself

}  // namespace

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled), started_(MonotonicSeconds()) {}

ProgressBar::~ProgressBar() {
  if (!drawn_) return;
  // Clear the line so that what the command prints next starts at its beginning.
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + kWidth + 10, "");
  std::fflush(stderr);
}

void ProgressBar::Set(double fraction) {
  if (!enabled_) return;
  const double now = MonotonicSeconds();
  if (now - started_ < kQuietFor) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_ && now - last_drawn_ < kRedrawEvery) return;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(fraction * kWidth);
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled, "##############################", kWidth - filled,
               "", static_cast<int>(fraction * 100));
  std::fflush(stderr);
  drawn_ = true;
  last_drawn_ = now;
}

double MonotonicSeconds() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

bool ShowsProgress(bool quiet) { return !quiet && ::isatty(STDERR_FILENO) == 1; }

}  // namespace patchtool
