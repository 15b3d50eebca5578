// CString: bounds of the searching and cutting functions, formatting of long texts, the
// GetBuffer protocol, and code page 936's double-byte characters.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "String.h"

namespace {

// Code page 936 characters whose second byte is an ASCII character.
const char kTrailBackslash[] = "\x81\x5c";  // second byte '\\'
const char kTrailUpperA[] = "\x81\x41";     // second byte 'A'
const char kTrailLowerA[] = "\x81\x61";     // second byte 'a'

// The double-byte rows below assume it: this says plainly when the locale is wrong.
TEST(CString, RunsUnderCodePage936) { ASSERT_EQ(936u, GetACP()); }

TEST(CString, FormatProducesTextsOfAnyLength) {
    const struct {
        const char* fault;
        int width;  // of a padded field
    } cases[] = {{"just over a 256 buffer", 257}, {"far beyond any buffer", 300000}};
    for (const auto& c : cases) {
        CString s;
        s.Format("%s%*s|%d", "<", c.width, "", 42);
        EXPECT_EQ("<" + std::string(static_cast<size_t>(c.width), ' ') + "|42", s.GetString())
            << c.fault;
    }
}

TEST(CString, FormatCanUseItsOwnOldText) {
    CString s("old");
    s.Format("[%s]", static_cast<const char*>(s));
    EXPECT_STREQ("[old]", s);
    s.AppendFormat("%d%s", 7, static_cast<const char*>(s));
    EXPECT_STREQ("[old]7[old]", s);
    s.Format("%s", "");
    EXPECT_STREQ("", s) << "an empty result kept the old text";
}

// Single-byte needles are searched with both Find(char) and Find(const char*).
TEST(CString, FindOnlyWholeCharactersWithinBounds) {
    const struct {
        const char* fault;
        const char* text;
        const char* sub;
        int start;
        int want;
    } cases[] = {
        {"first match", "a\\b\\c", "\\", 0, 1},
        {"start on a match", "a\\b\\c", "\\", 3, 3},
        {"start after the last match", "a\\b\\c", "\\", 4, -1},
        {"negative start", "abc", "a", -1, -1},
        {"start at the length", "abc", "c", 3, -1},
        {"trail byte is not a backslash", "\x81\x5c\\x", "\\", 0, 2},
        {"trail byte is not a letter",
         "\x81\x41"
         "A",
         "A", 0, 2},
        {"start inside a double-byte character", "\x81\x5c\\", "\\", 1, 2},
        {"longer needle found", "abcabc", "bc", 0, 1},
        {"needle running over the end", "abcab", "abc", 1, -1},
        {"empty needle at the length", "abc", "", 3, 3},
        {"empty needle past the length", "abc", "", 4, -1},
        {"match across a double-byte boundary", "\x81\x5c\x5c", "\x5c\x5c", 0, -1},
        {"double-byte needle", "x\x81\x5c", kTrailBackslash, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(c.want, CString(c.text).Find(c.sub, c.start));
        if (std::strlen(c.sub) == 1) {
            EXPECT_EQ(c.want, CString(c.text).Find(c.sub[0], c.start));
        }
    }
    EXPECT_EQ(-1, CString("abc").Find('\0')) << "the terminator is not a character";
    EXPECT_EQ(-1, CString("abc").Find(nullptr)) << "null needle";
}

TEST(CString, ReverseFindSkipsTrailBytes) {
    const struct {
        const char* fault;
        const char* text;
        char ch;
        int want;
    } cases[] = {
        {"last of several", "C:\\a\\b", '\\', 4},
        {"none", "abc", '\\', -1},
        {"terminator", "abc", '\0', -1},
        {"only in a trail byte", "dir\x81\x5c", '\\', -1},
        {"real one before a trail byte", "d\\\x81\x5c", '\\', 1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.want, CString(c.text).ReverseFind(c.ch)) << c.fault;
}

TEST(CString, CuttingIsClampedToTheText) {
    const CString s("abcdef");
    const struct {
        const char* fault;
        CString got;
        const char* want;
    } cases[] = {
        {"Left within", s.Left(2), "ab"},
        {"Left negative", s.Left(-1), ""},
        {"Left past end", s.Left(100), "abcdef"},
        {"Right within", s.Right(2), "ef"},
        {"Right negative", s.Right(-3), ""},
        {"Right past end", s.Right(7), "abcdef"},
        {"Mid to end", s.Mid(4), "ef"},
        {"Mid negative first", s.Mid(-2), "abcdef"},
        {"Mid past length", s.Mid(7, 1), ""},
        {"Mid count cut at end", s.Mid(4, 10), "ef"},
        {"Mid negative count", s.Mid(1, -1), ""},
        {"Mid count overflowing int", s.Mid(2, 0x7fffffff), "cdef"},
        {"Mid negative first with count", s.Mid(-2, 3), "abc"},
    };
    for (const auto& c : cases) EXPECT_STREQ(c.want, c.got) << c.fault;
}

TEST(CString, IndexesAndNullsOutsideTheTextAreHarmless) {
    CString s(nullptr);
    s += static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STREQ("", CString("abc", -1));
    s = "ab";
    EXPECT_EQ('\0', s.GetAt(2));
    EXPECT_EQ('\0', s.GetAt(-1));
    s.SetAt(5, 'x');
    s.SetAt(0, 'z');
    EXPECT_STREQ("zb", s);
    CString spaced(" \t x y \r\n");
    EXPECT_STREQ("x y", spaced.Trim());
}

TEST(CString, GetBufferAndReleaseBuffer) {
    const struct {
        const char* fault;
        const char* before;
        int minLength;
        const char* written;  // null: nothing written
        bool terminated;      // written with its terminator
        int release;
        const char* want;
    } cases[] = {
        {"fill and measure", "", 10, "hello", true, -1, "hello"},
        {"explicit length cuts", "", 10, "hello", true, 3, "hel"},
        {"explicit length past the buffer is clamped", "", 4, "abcd", true, 50, "abcd"},
        {"a full buffer without terminator stops at the buffer", "", 4, "wxyz", false, -1, "wxyz"},
        {"old text kept when nothing written", "keep", 2, nullptr, false, -1, "keep"},
        {"negative minimum keeps the old size", "abc", -5, nullptr, false, -1, "abc"},
        {"zero length empties", "abc", 8, nullptr, false, 0, ""},
    };
    for (const auto& c : cases) {
        CString s(c.before);
        char* p = s.GetBuffer(c.minLength);
        if (c.written) std::memcpy(p, c.written, std::strlen(c.written) + (c.terminated ? 1 : 0));
        s.ReleaseBuffer(c.release);
        EXPECT_STREQ(c.want, s) << c.fault;
        EXPECT_EQ(static_cast<int>(std::strlen(c.want)), s.GetLength()) << c.fault;
    }
}

TEST(CString, CaseFoldingLeavesDoubleByteCharactersAlone) {
    CString upper = CString("ab") + kTrailLowerA + "z";
    EXPECT_EQ(CString("AB") + kTrailLowerA + "Z", upper.MakeUpper());
    CString lower = CString("AB") + kTrailUpperA + "Z";
    EXPECT_EQ(CString("ab") + kTrailUpperA + "z", lower.MakeLower());
}

TEST(CString, Comparisons) {
    const struct {
        const char* fault;
        const char* a;
        const char* b;
        int compare;        // sign
        int compareNoCase;  // sign
    } cases[] = {
        {"equal", "abc", "abc", 0, 0},
        {"prefix", "ab", "abc", -1, -1},
        {"null compares as empty", "", nullptr, 0, 0},
        {"high bytes are unsigned", "\xb0\xa1", "a", 1, 1},
        {"trail bytes differing in case differ", kTrailUpperA, kTrailLowerA, -1, -1},
        {"ASCII case only", "Update.EXE", "update.exe", -1, 0},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const auto& c : cases) {
        EXPECT_EQ(c.compare, sign(CString(c.a).Compare(c.b))) << c.fault;
        EXPECT_EQ(c.compareNoCase, sign(CString(c.a).CompareNoCase(c.b))) << c.fault;
    }
}

}  // namespace
