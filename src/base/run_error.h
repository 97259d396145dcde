#pragma once
// The one error type of the file layer and the conversions. `text` is the standard message
// shown to the user ("File not found", "Disk full", ...); `detail` is the path or other
// context, shown separately. `code` names the standard text, so that callers and tests
// compare codes instead of texts.
#include <stdexcept>
#include <string>
#include <string_view>

namespace quenlith {

enum class ErrorCode {
    Other, // a text of its own (a parameter file's line, for example)
    FileNotFound,
    FileAccessDenied,
    DiskFull,
    FileTooLarge,
    FileNameTooLong,
    OutOfMemory,
    IoError, // "I/O error <errno>"
    RangeCheck,
    DivisionByZero,
    InvalidNumericInput,
    CannotJoinSlices,
    WorkingDirectoryInUse,
    ThreadsCannotStart,
};

// The standard text of a code ("" for Other; "I/O error" for IoError, which adds the number).
std::string_view standardText(ErrorCode code);
// The code of a standard text; Other for any other text.
ErrorCode errorCodeOf(std::string_view text);

class RunError : public std::runtime_error {
  public:
    RunError(std::string text, std::string detail = {})
        : std::runtime_error(text), text_(std::move(text)), detail_(std::move(detail)),
          code_(errorCodeOf(text_)) {}
    RunError(ErrorCode code, std::string detail = {})
        : RunError(std::string(standardText(code)), std::move(detail)) {}
    const std::string& text() const { return text_; }
    const std::string& detail() const { return detail_; }
    ErrorCode code() const { return code_; }

  private:
    std::string text_;
    std::string detail_;
    ErrorCode code_;
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
