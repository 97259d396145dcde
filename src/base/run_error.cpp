#include "base/run_error.h"

#include <array>
#include <utility>

namespace quenlith {

namespace {

// Every standard text once: the table both directions read.
constexpr std::array<std::pair<ErrorCode, std::string_view>, 13> kStandardTexts{{
    {ErrorCode::FileNotFound, "File not found"},
    {ErrorCode::FileAccessDenied, "File access denied"},
    {ErrorCode::DiskFull, "Disk full"},
    {ErrorCode::FileTooLarge, "File too large"},
    {ErrorCode::FileNameTooLong, "File name too long"},
    {ErrorCode::OutOfMemory, "Out of memory"},
    {ErrorCode::IoError, "I/O error"},
    {ErrorCode::RangeCheck, "Range check error"},
    {ErrorCode::DivisionByZero, "Division by zero"},
    {ErrorCode::InvalidNumericInput, "Invalid numeric input"},
    {ErrorCode::CannotJoinSlices, "Cannot join the slices"},
    {ErrorCode::WorkingDirectoryInUse, "Working directory in use"},
    {ErrorCode::ThreadsCannotStart, "Worker threads cannot be started"},
}};

} // namespace

std::string_view standardText(ErrorCode code) {
    for (const auto& [c, text] : kStandardTexts)
        if (c == code) return text;
    return {};
}

ErrorCode errorCodeOf(std::string_view text) {
    for (const auto& [c, standard] : kStandardTexts) {
        if (text == standard) return c;
        // "I/O error 5": the system's number follows the standard text.
        if (c == ErrorCode::IoError && text.starts_with("I/O error ")) return c;
    }
    return ErrorCode::Other;
}

} // namespace quenlith
