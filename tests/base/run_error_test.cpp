#include "base/run_error.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace quenlith;

TEST(RunError, CodesAndStandardTextsMapBothWays) {
    for (int c = static_cast<int>(ErrorCode::FileNotFound);
         c <= static_cast<int>(ErrorCode::ThreadsCannotStart); ++c) {
        const auto code = static_cast<ErrorCode>(c);
        const std::string text(standardText(code));
        ASSERT_FALSE(text.empty()) << c;
        EXPECT_EQ(errorCodeOf(text), code) << text;
        EXPECT_EQ(RunError(code, "detail").text(), text);
    }
    // The file layer's texts carry their code; a text of its own is Other.
    EXPECT_EQ(RunError(standardErrorText(ENOSPC)).code(), ErrorCode::DiskFull);
    EXPECT_EQ(RunError(standardErrorText(EROFS)).code(), ErrorCode::FileAccessDenied);
    EXPECT_EQ(RunError(standardErrorText(EIO)).code(), ErrorCode::IoError);
    EXPECT_EQ(RunError(standardErrorText(EIO)).text(), "I/O error " + std::to_string(EIO));
    EXPECT_EQ(RunError("Line 3: MaxSize (2) is below MinSize (5)").code(), ErrorCode::Other);
    EXPECT_EQ(errorCodeOf("File not found "), ErrorCode::Other);
}
