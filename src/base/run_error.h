#pragma once
// The one error type of the file layer and the conversions. `text` is the standard message
// shown to the user ("File not found", "Disk full", ...); `detail` is the path or other
// context, shown separately.
#include <stdexcept>
#include <string>

namespace quenlith {

class RunError : public std::runtime_error {
  public:
    RunError(std::string text, std::string detail = {})
        : std::runtime_error(text), text_(std::move(text)), detail_(std::move(detail)) {}
    const std::string& text() const { return text_; }
    const std::string& detail() const { return detail_; }

  private:
    std::string text_;
    std::string detail_;
};

// Thrown inside a simulation when the front end asked the run to stop; the run ends after
// the last whole simulation.
class RunStopped : public std::exception {
  public:
    const char* what() const noexcept override { return "run stopped"; }
};

// Standard text for a system error number.
std::string standardErrorText(int err);

// Throws RunError for the current errno with `path` as detail.
[[noreturn]] void throwIoError(int err, const std::string& path);

} // namespace quenlith
