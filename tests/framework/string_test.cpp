// CString: bounds of the searching and cutting functions, formatting of long texts, the
// GetBuffer protocol, and code page 936's double-byte characters.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "String.h"

namespace {

// Code page 936 characters whose second byte is an ASCII character.
const char kTrailBackslash[] = "\x81\x5c";  // second byte '\\'
const char kTrailUpperA[] = "\x81\x41";     // second byte 'A'
const char kTrailLowerA[] = "\x81\x61";     // second byte 'a'

TEST(CString, RunsUnderCodePage936) { ASSERT_EQ(936u, GetACP()); }

struct FormatCase {
    const char* fault;
    int width;  // of a field padded with '*'
};

TEST(CString, FormatProducesTextsOfAnyLength) {
    const FormatCase cases[] = {
        {"empty result", 0},
        {"one byte", 1},
        {"just under a 256 buffer", 255},
        {"just over a 256 buffer", 257},
        {"one page", 4096},
        {"far beyond any fixed buffer", 300000},
    };
    for (const FormatCase& c : cases) {
        CString s;
        s.Format("%s%*s|%d", "<", c.width, "", 42);
        std::string want = "<" + std::string(static_cast<size_t>(c.width), ' ') + "|42";
        EXPECT_EQ(want, s.GetString()) << c.fault;
        EXPECT_EQ(static_cast<int>(want.size()), s.GetLength()) << c.fault;
    }
}

TEST(CString, FormatReplacesAndCanUseItsOwnOldText) {
    CString s("old");
    s.Format("[%s]", static_cast<const char*>(s));
    EXPECT_STREQ("[old]", s);
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    s.AppendFormat("%d-%s", 7, "x");
    s.AppendFormat("%c", '!');
    EXPECT_STREQ("7-x!", s);
}

struct FindCase {
    const char* fault;
    const char* text;
    char ch;
    int start;
    int want;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.fault; }

class FindChar : public testing::TestWithParam<FindCase> {};

TEST_P(FindChar, FindsOnlyWholeCharactersWithinBounds) {
    const FindCase& c = GetParam();
    EXPECT_EQ(c.want, CString(c.text).Find(c.ch, c.start));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, FindChar,
    testing::Values(FindCase{"FirstMatch", "a\\b\\c", '\\', 0, 1},
                    FindCase{"StartOnMatch", "a\\b\\c", '\\', 3, 3},
                    FindCase{"StartAfterLastMatch", "a\\b\\c", '\\', 4, -1},
                    FindCase{"NegativeStart", "abc", 'a', -1, -1},
                    FindCase{"StartAtLength", "abc", 'c', 3, -1},
                    FindCase{"StartFarPastEnd", "abc", 'c', 1000000, -1},
                    FindCase{"EmptyText", "", 'a', 0, -1},
                    FindCase{"TerminatorIsNotAChar", "abc", '\0', 0, -1},
                    FindCase{"TrailByteIsNotABackslash", "\x81\x5c\\x", '\\', 0, 2},
                    FindCase{"TrailByteIsNotALetter",
                             "\x81\x41"
                             "A",
                             'A', 0, 2},
                    FindCase{"StartInsideDoubleByteChar", "\x81\x5c\\", '\\', 1, 2},
                    FindCase{"LoneLeadByteAtEnd", "ab\x81", 'b', 0, 1}),
    [](const testing::TestParamInfo<FindCase>& info) { return std::string(info.param.fault); });

TEST(CString, FindSubstringBounds) {
    struct Case {
        const char* fault;
        const char* text;
        const char* sub;
        int start;
        int want;
    } cases[] = {
        {"found", "abcabc", "bc", 0, 1},
        {"found after start", "abcabc", "bc", 2, 4},
        {"overlapping end", "abcab", "abc", 1, -1},
        {"empty needle at start", "abc", "", 2, 2},
        {"empty needle at length", "abc", "", 3, 3},
        {"start past length", "abc", "", 4, -1},
        {"negative start", "abc", "a", -5, -1},
        {"null needle", "abc", nullptr, 0, -1},
        {"needle longer than text", "ab", "abc", 0, -1},
        {"match across a double-byte boundary", "\x81\x5c\x5c", "\x5c\x5c", 0, -1},
        {"double-byte needle", "x\x81\x5c", kTrailBackslash, 0, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, CString(c.text).Find(c.sub, c.start)) << c.fault;
}

TEST(CString, ReverseFindSkipsTrailBytes) {
    struct Case {
        const char* fault;
        const char* text;
        char ch;
        int want;
    } cases[] = {
        {"last of several", "C:\\a\\b", '\\', 4},
        {"none", "abc", '\\', -1},
        {"empty", "", '\\', -1},
        {"terminator", "abc", '\0', -1},
        {"only in a trail byte", "dir\x81\x5c", '\\', -1},
        {"real one before a trail byte", "d\\\x81\x5c", '\\', 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, CString(c.text).ReverseFind(c.ch)) << c.fault;
}

TEST(CString, CuttingIsClampedToTheText) {
    const CString s("abcdef");
    struct Case {
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
        {"Mid at length", s.Mid(6), ""},
        {"Mid past length", s.Mid(7, 1), ""},
        {"Mid count cut at end", s.Mid(4, 10), "ef"},
        {"Mid negative count", s.Mid(1, -1), ""},
        {"Mid count overflowing int", s.Mid(2, 0x7fffffff), "cdef"},
        {"Mid negative first with count", s.Mid(-2, 3), "abc"},
    };
    for (const Case& c : cases) EXPECT_STREQ(c.want, c.got) << c.fault;
}

TEST(CString, GetAtOutsideTheTextGivesZero) {
    CString s("ab");
    EXPECT_EQ('b', s[1]);
    EXPECT_EQ('\0', s.GetAt(2));
    EXPECT_EQ('\0', s.GetAt(-1));
    s.SetAt(5, 'x');
    s.SetAt(0, 'z');
    EXPECT_STREQ("zb", s);
}

TEST(CString, GetBufferAndReleaseBuffer) {
    struct Case {
        const char* fault;
        const char* before;
        int minLength;
        const char* written;  // copied with its terminator
        int release;
        const char* want;
    } cases[] = {
        {"fill and measure", "", 10, "hello", -1, "hello"},
        {"explicit length cuts", "", 10, "hello", 3, "hel"},
        {"explicit length past buffer is clamped", "", 4, "abcd", 50, "abcd"},
        {"old text kept when nothing written", "keep", 2, nullptr, -1, "keep"},
        {"negative minimum keeps old size", "abc", -5, nullptr, -1, "abc"},
        {"zero length empties", "abc", 8, nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        CString s(c.before);
        char* p = s.GetBuffer(c.minLength);
        ASSERT_NE(nullptr, p) << c.fault;
        if (c.written) memcpy(p, c.written, strlen(c.written) + 1);
        s.ReleaseBuffer(c.release);
        EXPECT_STREQ(c.want, s) << c.fault;
        EXPECT_EQ(static_cast<int>(strlen(c.want)), s.GetLength()) << c.fault;
    }
}

TEST(CString, ReleaseBufferWithoutTerminatorStopsAtTheBuffer) {
    CString s;
    char* p = s.GetBuffer(4);
    memcpy(p, "wxyz", 4);  // the full buffer, no terminator of the caller's
    s.ReleaseBuffer();
    EXPECT_STREQ("wxyz", s);
}

TEST(CString, BufferFromWin32Call) {
    CString s;
    DWORD n = GetModuleFileNameA(nullptr, s.GetBuffer(MAX_PATH), MAX_PATH);
    s.ReleaseBuffer();
    EXPECT_EQ(static_cast<int>(n), s.GetLength());
    EXPECT_GT(s.ReverseFind('\\'), 0);
}

TEST(CString, CaseFoldingLeavesDoubleByteCharactersAlone) {
    CString upper = CString("ab") + kTrailLowerA + "z";
    upper.MakeUpper();
    EXPECT_EQ(CString("AB") + kTrailLowerA + "Z", upper);
    CString lower = CString("AB") + kTrailUpperA + "Z";
    lower.MakeLower();
    EXPECT_EQ(CString("ab") + kTrailUpperA + "z", lower);
}

TEST(CString, Comparisons) {
    struct Case {
        const char* fault;
        const char* a;
        const char* b;
        int compare;        // sign
        int compareNoCase;  // sign
    } cases[] = {
        {"equal", "abc", "abc", 0, 0},
        {"case only", "ABC", "abc", -1, 0},
        {"prefix", "ab", "abc", -1, -1},
        {"null compares as empty", "", nullptr, 0, 0},
        {"high bytes are unsigned", "\xb0\xa1", "a", 1, 1},
        {"trail bytes differing in case differ", kTrailUpperA, kTrailLowerA, -1, -1},
        {"mixed", "Update.EXE", "update.exe", -1, 0},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(c.compare, sign(CString(c.a).Compare(c.b))) << c.fault;
        EXPECT_EQ(c.compareNoCase, sign(CString(c.a).CompareNoCase(c.b))) << c.fault;
    }
}

TEST(CString, ConstructionConcatenationAndEquality) {
    CString s(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    s = "a";
    s += 'b';
    s += CString("c");
    s += static_cast<const char*>(nullptr);
    EXPECT_TRUE(s == "abc");
    EXPECT_TRUE("abc" == s);
    EXPECT_TRUE(s != CString("abd"));
    EXPECT_STREQ("xabcy", 'x' + s + 'y');
    EXPECT_STREQ("abcabc", s + s);
    EXPECT_STREQ("-abc", "-" + s);
    EXPECT_STREQ("ab", CString("abcdef", 2));
    EXPECT_STREQ("", CString("abc", -1));
    EXPECT_STREQ("---", CString('-', 3));
    CString moved(std::move(s));
    EXPECT_STREQ("abc", moved);
    moved = moved;  // self-assignment keeps the text
    EXPECT_STREQ("abc", moved);
    moved.Empty();
    EXPECT_EQ(0, moved.GetLength());
    CString spaced(" \t x y \r\n");
    EXPECT_STREQ("x y", spaced.Trim());
}

}  // namespace
