#pragma once
// What a step of the wizard that can fail gives back: success, or the text its error box
// shows. The wizard is built without exceptions (they would bring the unwinder and its
// tables into every byte the user downloads); a failing step returns its Status, every
// caller hands it on at once, and the owners of what was acquired on the way release it as
// they go out of scope.
#include <string>
#include <utility>

namespace win {

class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Error(std::string text) {
    Status status;
    status.failed_ = true;
    status.text_ = std::move(text);
    return status;
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // The error box's text; empty on success.
  const std::string& text() const { return text_; }

 private:
  bool failed_ = false;
  std::string text_;
};

}  // namespace win
