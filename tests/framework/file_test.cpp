// CFile: what each open mode does to an existing or missing file, how the sharing flags
// meet a second open, and what each failure reports.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "File.h"

namespace {

class TempDir {
public:
    TempDir() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        m_path = std::string(base) + "kit_cfile_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(m_path.c_str(), nullptr);
    }
    ~TempDir() {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((m_path + "\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((m_path + "\\" + fd.cFileName).c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(m_path.c_str());
    }
    std::string File(const char* name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

void WriteWhole(const std::string& path, const std::string& content) {
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    ASSERT_TRUE(f.Write(content.data(), static_cast<UINT>(content.size())));
}

std::string ReadWhole(const std::string& path) {
    CFile f;
    if (!f.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone)) return "<missing>";
    std::string s(static_cast<size_t>(f.GetLength()), '\0');
    if (!s.empty()) s.resize(f.Read(&s[0], static_cast<UINT>(s.size())));
    return s;
}

struct OpenCase {
    const char* fault;
    bool exists;  // the file holds "old" before the open
    UINT flags;
    bool opens;
    int cause;               // when it does not open
    const char* afterWrite;  // file contents after writing "new" (null: no write test)
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.fault; }

class OpenModes : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenModes, OpenAndWriteGiveTheExpectedFile) {
    const OpenCase& c = GetParam();
    TempDir dir;
    std::string path = dir.File("f.bin");
    if (c.exists) WriteWhole(path, "old");

    CFile f;
    CFileException error;
    BOOL opened = f.Open(path.c_str(), c.flags, &error);
    ASSERT_EQ(c.opens, opened != FALSE);
    if (!c.opens) {
        EXPECT_EQ(c.cause, error.m_cause);
        EXPECT_NE(0, error.m_lOsError);
        EXPECT_STREQ(path.c_str(), error.m_strFileName);
        EXPECT_EQ(INVALID_HANDLE_VALUE, f.m_hFile);
        return;
    }
    EXPECT_NE(INVALID_HANDLE_VALUE, f.m_hFile);
    if (c.afterWrite) {
        f.SeekToEnd();
        f.Write("new", 3);
        f.Close();
        EXPECT_EQ(c.afterWrite, ReadWhole(path));
    }
}

INSTANTIATE_TEST_SUITE_P(
    File, OpenModes,
    testing::Values(OpenCase{"ReadMissingFails", false, CFile::modeRead, false,
                             CFileException::fileNotFound, nullptr},
                    OpenCase{"WriteMissingWithoutCreateFails", false, CFile::modeWrite, false,
                             CFileException::fileNotFound, nullptr},
                    OpenCase{"CreateMakesMissingFile", false, CFile::modeCreate | CFile::modeWrite,
                             true, 0, "new"},
                    OpenCase{"CreateTruncatesExisting", true, CFile::modeCreate | CFile::modeWrite,
                             true, 0, "new"},
                    OpenCase{"NoTruncateKeepsExisting", true,
                             CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, true,
                             0, "oldnew"},
                    OpenCase{"NoTruncateMakesMissingFile", false,
                             CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, true, 0,
                             "new"},
                    OpenCase{"ReadWriteWithoutCreateKeepsExisting", true, CFile::modeReadWrite,
                             true, 0, "oldnew"},
                    OpenCase{"TypeBinaryIsAccepted", true, CFile::modeRead | CFile::typeBinary,
                             true, 0, nullptr},
                    OpenCase{"AccessModeThreeRejected", true, 3, false,
                             CFileException::genericException, nullptr},
                    OpenCase{"UnknownShareModeRejected", true, CFile::modeRead | 0x50, false,
                             CFileException::genericException, nullptr}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.fault); });

struct ShareCase {
    const char* fault;
    UINT first;   // flags of the open that holds the file
    UINT second;  // flags of a second open while it is held
    bool secondOpens;
};

void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.fault; }

class Sharing : public testing::TestWithParam<ShareCase> {};

TEST_P(Sharing, SecondOpenFollowsTheFirstOnesShareMode) {
    const ShareCase& c = GetParam();
    TempDir dir;
    std::string path = dir.File("shared.bin");
    WriteWhole(path, "data");
    CFile holder;
    ASSERT_TRUE(holder.Open(path.c_str(), c.first));
    CFile second;
    CFileException error;
    EXPECT_EQ(c.secondOpens, second.Open(path.c_str(), c.second, &error) != FALSE);
    if (!c.secondOpens) {
        EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
    }
}

INSTANTIATE_TEST_SUITE_P(
    File, Sharing,
    testing::Values(
        // The 16-bit compatibility mode means no sharing at all on Win32.
        ShareCase{"CompatBlocksReaders", CFile::modeReadWrite | CFile::shareCompat,
                  CFile::modeRead | CFile::shareDenyNone, false},
        ShareCase{"ExclusiveBlocksReaders", CFile::modeRead | CFile::shareExclusive,
                  CFile::modeRead | CFile::shareDenyNone, false},
        ShareCase{"DenyWriteLetsReadersIn", CFile::modeRead | CFile::shareDenyWrite,
                  CFile::modeRead | CFile::shareDenyWrite, true},
        ShareCase{"DenyWriteKeepsWritersOut", CFile::modeRead | CFile::shareDenyWrite,
                  CFile::modeWrite | CFile::shareDenyNone, false},
        ShareCase{"DenyReadKeepsReadersOut", CFile::modeWrite | CFile::shareDenyRead,
                  CFile::modeRead | CFile::shareDenyNone, false},
        ShareCase{"DenyReadLetsWritersIn", CFile::modeWrite | CFile::shareDenyRead,
                  CFile::modeWrite | CFile::shareDenyNone, true},
        ShareCase{"DenyNoneLetsBothIn", CFile::modeReadWrite | CFile::shareDenyNone,
                  CFile::modeReadWrite | CFile::shareDenyNone, true},
        ShareCase{"SecondOpenMustShareWhatFirstDoes", CFile::modeReadWrite | CFile::shareDenyNone,
                  CFile::modeRead | CFile::shareExclusive, false}),
    [](const testing::TestParamInfo<ShareCase>& info) { return std::string(info.param.fault); });

TEST(CFile, ReadSeekLengthAndPosition) {
    TempDir dir;
    std::string path = dir.File("rw.bin");
    WriteWhole(path, "0123456789");
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
    EXPECT_EQ(10u, f.GetLength());
    char buf[16] = {};
    EXPECT_EQ(4u, f.Read(buf, 4));
    EXPECT_STREQ("0123", buf);
    EXPECT_EQ(4u, f.GetPosition());
    EXPECT_EQ(8u, f.Seek(-2, CFile::end));
    EXPECT_EQ(2u, f.Read(buf, sizeof buf));
    EXPECT_EQ(0u, f.Read(buf, sizeof buf));  // end of file
    EXPECT_EQ(DWORD(NO_ERROR), GetLastError());
    EXPECT_EQ(CFile::kFailed, f.Seek(-1, CFile::begin));
    EXPECT_EQ(10u, f.GetPosition());  // unchanged by the failed seek
    EXPECT_EQ(CFile::kFailed, f.Seek(0, 7));
    EXPECT_EQ(3u, f.Seek(3, CFile::begin));
    EXPECT_EQ(5u, f.Seek(2, CFile::current));
    EXPECT_FALSE(f.Write("x", 1));  // opened for reading only
}

TEST(CFile, ClosedFileFailsEveryCall) {
    CFile f;
    char buf[4];
    EXPECT_EQ(0u, f.Read(buf, sizeof buf));
    EXPECT_FALSE(f.Write("x", 1));
    EXPECT_EQ(CFile::kFailed, f.GetLength());
    EXPECT_EQ(CFile::kFailed, f.GetPosition());
    EXPECT_EQ(CFile::kFailed, f.Seek(0, CFile::begin));
    EXPECT_FALSE(f.Flush());
    f.Close();  // closing twice is harmless
    f.Close();
    EXPECT_FALSE(f.Open(nullptr, CFile::modeRead));
}

TEST(CFile, SecondOpenOnAnOpenObjectFailsAndKeepsTheFirst) {
    TempDir dir;
    std::string a = dir.File("a.bin");
    std::string b = dir.File("b.bin");
    WriteWhole(a, "a");
    WriteWhole(b, "bb");
    CFile f;
    ASSERT_TRUE(f.Open(a.c_str(), CFile::modeRead));
    HANDLE first = f.m_hFile;
    EXPECT_FALSE(f.Open(b.c_str(), CFile::modeRead));
    EXPECT_EQ(first, f.m_hFile);
    EXPECT_EQ(1u, f.GetLength());
}

TEST(CFile, HandleIsClosedByCloseAndByTheDestructor) {
    TempDir dir;
    std::string path = dir.File("h.bin");
    HANDLE h;
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        h = f;
        DWORD flags;
        EXPECT_TRUE(GetHandleInformation(h, &flags));
    }
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(h, &flags));
    CFile g;
    ASSERT_TRUE(g.Open(path.c_str(), CFile::modeRead));
    h = g.m_hFile;
    g.Close();
    EXPECT_EQ(INVALID_HANDLE_VALUE, g.m_hFile);
    EXPECT_FALSE(GetHandleInformation(h, &flags));
}

TEST(CFile, InheritanceFollowsNoInherit) {
    TempDir dir;
    std::string path = dir.File("i.bin");
    WriteWhole(path, "x");
    struct Case {
        const char* fault;
        UINT flags;
        bool inheritable;
    } cases[] = {
        {"inheritable by default", CFile::modeRead | CFile::shareDenyNone, true},
        {"modeNoInherit keeps it from children",
         CFile::modeRead | CFile::shareDenyNone | CFile::modeNoInherit, false},
    };
    for (const Case& c : cases) {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), c.flags)) << c.fault;
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(f.m_hFile, &flags)) << c.fault;
        EXPECT_EQ(c.inheritable, (flags & HANDLE_FLAG_INHERIT) != 0) << c.fault;
    }
}

}  // namespace
