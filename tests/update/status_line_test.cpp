#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "StatusLine.h"

namespace {

const std::string kPrefix = "正在下载文件 ";  // 13 bytes in code page 936

TEST(FormatStatusLine, KeepsWholeCharactersWithin31Bytes) {
    ASSERT_EQ(13u, kPrefix.size()) << "literals must be stored in code page 936";
    struct Case {
        const char* fault;
        std::string name;
        std::string expected;
    } cases[] = {
        {"short name shown whole", "a.zip", kPrefix + "a.zip"},
        {"18 bytes fit exactly", std::string(18, 'n'), kPrefix + std::string(18, 'n')},
        {"19 bytes cut to 18", std::string(19, 'n'), kPrefix + std::string(18, 'n')},
        {"double-byte name ending on the boundary", "补丁补丁补丁补丁补丁.zip",
         kPrefix + "补丁补丁补丁补丁补"},
        {"double-byte character straddling byte 31", "x补丁补丁补丁补丁补丁",
         kPrefix + "x补丁补丁补丁补丁"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        char out[kStatusLineSize];
        std::memset(out, 'Z', sizeof out);
        FormatStatusLine(c.name.c_str(), out);
        EXPECT_EQ(c.expected, std::string(out));
        EXPECT_EQ('\0', out[kStatusLineSize - 1]);
        EXPECT_LE(std::strlen(out), 31u);
    }
}

}  // namespace
