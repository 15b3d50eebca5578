#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "KitText.h"
#include "StatusLine.h"

namespace {

const std::string kPrefix = "正在下载文件 ";  // 13 bytes in code page 936

// Also run under code page 1252, where none of these bytes is a lead byte.
TEST(KitText, JudgedInCodePage936) {
    struct Case {
        const char* fault;
        const char* text;
        size_t maxBytes;
        size_t expected;
    } cases[] = {
        {"cut inside a character", "\xD5\xFD\xD4\xDA", 3, 2},
        {"a GBK lead byte outside GB2312 missed", "a\x81\x40", 2, 1},
        {"trail bytes in the lead range read as leads", "\xB2\xB9\xB6\xA1x", 5, 5},
        {"a lead byte before the terminator paired with it", "ab\xD5", 8, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, WholeKitCharacters(c.text, c.maxBytes)) << c.fault;
    }
}

TEST(FormatStatusLine, KeepsWholeCharactersWithin31Bytes) {
    ASSERT_EQ(13u, kPrefix.size()) << "literals must be stored in code page 936";
    struct Case {
        const char* fault;
        std::string name;
        std::string expected;
    } cases[] = {
        {"short name shown whole", "a.zip", kPrefix + "a.zip"},
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
    }
}

}  // namespace
