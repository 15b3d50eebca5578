// CFile: what each open mode does to an existing or missing file, how the sharing flags
// meet a second open, what each failure reports, and who closes the handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "File.h"

namespace {

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return GetHandleInformation(h, &flags) != FALSE;
}

// A file in the temporary folder, deleted with the object.
class TempFile {
public:
    explicit TempFile(const char* contents = nullptr) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        m_path = std::string(dir) + "kit_cfile_" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++s_count);
        if (contents) Write(contents);
    }
    ~TempFile() { DeleteFileA(m_path.c_str()); }
    const char* Path() const { return m_path.c_str(); }
    void Write(const std::string& contents) const {
        CFile f;
        ASSERT_TRUE(f.Open(Path(), CFile::modeCreate | CFile::modeWrite));
        ASSERT_TRUE(f.Write(contents.data(), static_cast<UINT>(contents.size())));
    }
    std::string Read() const {
        CFile f;
        if (!f.Open(Path(), CFile::modeRead | CFile::shareDenyNone)) return "<missing>";
        std::string s(static_cast<size_t>(f.GetLength()), '\0');
        if (!s.empty()) s.resize(f.Read(&s[0], static_cast<UINT>(s.size())));
        return s;
    }

private:
    static inline int s_count = 0;
    std::string m_path;
};

TEST(CFile, OpenModesGiveTheExpectedFile) {
    const struct {
        const char* fault;
        bool exists;  // the file holds "old" before the open
        UINT flags;
        int cause;               // CFileException::none: it opens
        const char* afterWrite;  // contents after appending "new" (null: no write)
    } cases[] = {
        {"read of a missing file fails", false, CFile::modeRead, CFileException::fileNotFound,
         nullptr},
        {"write without create needs the file", false, CFile::modeWrite,
         CFileException::fileNotFound, nullptr},
        {"create makes a missing file", false, CFile::modeCreate | CFile::modeWrite, 0, "new"},
        {"create truncates", true, CFile::modeCreate | CFile::modeWrite, 0, "new"},
        {"no-truncate keeps the contents", true,
         CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, 0, "oldnew"},
        {"no-truncate makes a missing file", false,
         CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, 0, "new"},
        {"read-write without create keeps the contents", true, CFile::modeReadWrite, 0, "oldnew"},
        {"access mode 3 does not exist", true, 3, CFileException::genericException, nullptr},
        {"share mode 0x50 does not exist", true, CFile::modeRead | 0x50,
         CFileException::genericException, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TempFile file;
        if (c.exists) file.Write("old");
        CFile f;
        CFileException error;
        BOOL opened = f.Open(file.Path(), c.flags, &error);
        ASSERT_EQ(c.cause == CFileException::none, opened != FALSE);
        if (!opened) {
            EXPECT_EQ(c.cause, error.m_cause);
            EXPECT_NE(0, error.m_lOsError);
            EXPECT_STREQ(file.Path(), error.m_strFileName);
            EXPECT_EQ(INVALID_HANDLE_VALUE, f.m_hFile);
        } else if (c.afterWrite) {
            f.SeekToEnd();
            f.Write("new", 3);
            f.Close();
            EXPECT_EQ(c.afterWrite, file.Read());
        }
    }
}

TEST(CFile, SecondOpenFollowsTheFirstOnesShareMode) {
    const struct {
        const char* fault;
        UINT first;   // flags of the open that holds the file
        UINT second;  // flags of a second open while it is held
        bool secondOpens;
    } cases[] = {
        // The 16-bit compatibility mode means no sharing at all on Win32.
        {"compat blocks readers", CFile::modeReadWrite | CFile::shareCompat,
         CFile::modeRead | CFile::shareDenyNone, false},
        {"exclusive blocks readers", CFile::modeRead | CFile::shareExclusive,
         CFile::modeRead | CFile::shareDenyNone, false},
        {"deny-write lets readers in", CFile::modeRead | CFile::shareDenyWrite,
         CFile::modeRead | CFile::shareDenyWrite, true},
        {"deny-write keeps writers out", CFile::modeRead | CFile::shareDenyWrite,
         CFile::modeWrite | CFile::shareDenyNone, false},
        {"deny-read keeps readers out", CFile::modeWrite | CFile::shareDenyRead,
         CFile::modeRead | CFile::shareDenyNone, false},
        {"deny-read lets writers in", CFile::modeWrite | CFile::shareDenyRead,
         CFile::modeWrite | CFile::shareDenyNone, true},
    };
    TempFile file("data");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        CFile holder;
        ASSERT_TRUE(holder.Open(file.Path(), c.first));
        CFile second;
        CFileException error;
        EXPECT_EQ(c.secondOpens, second.Open(file.Path(), c.second, &error) != FALSE);
        if (!c.secondOpens) {
            EXPECT_EQ(CFileException::sharingViolation, error.m_cause);
        }
    }
}

TEST(CFile, ReadSeekLengthAndPosition) {
    TempFile file("0123456789");
    CFile f;
    ASSERT_TRUE(f.Open(file.Path(), CFile::modeRead));
    EXPECT_EQ(10u, f.GetLength());
    char buf[16] = {};
    EXPECT_EQ(4u, f.Read(buf, 4));
    EXPECT_STREQ("0123", buf);
    EXPECT_EQ(4u, f.GetPosition());
    EXPECT_EQ(8u, f.Seek(-2, CFile::end));
    EXPECT_EQ(2u, f.Read(buf, sizeof buf));
    EXPECT_EQ(0u, f.Read(buf, sizeof buf));
    EXPECT_EQ(DWORD(NO_ERROR), GetLastError()) << "the end of the file is not a failure";
    EXPECT_EQ(CFile::kFailed, f.Seek(-1, CFile::begin));
    EXPECT_EQ(10u, f.GetPosition()) << "a failed seek moved the position";
    EXPECT_EQ(CFile::kFailed, f.Seek(0, 7));
    EXPECT_EQ(3u, f.Seek(3, CFile::begin));
    EXPECT_EQ(5u, f.Seek(2, CFile::current));
    EXPECT_FALSE(f.Write("x", 1)) << "opened for reading only";
    f.Close();
    EXPECT_FALSE(f.Open(nullptr, CFile::modeRead));
}

TEST(CFile, HandleIsClosedOnceAndOnlyByItsOwner) {
    TempFile a("a");
    TempFile b("bb");
    HANDLE h;
    {
        CFile f;
        ASSERT_TRUE(f.Open(a.Path(), CFile::modeRead));
        h = f;
        EXPECT_FALSE(f.Open(b.Path(), CFile::modeRead)) << "an open object opened again";
        EXPECT_EQ(h, f.m_hFile);
        EXPECT_EQ(1u, f.GetLength());
    }
    EXPECT_FALSE(HandleIsOpen(h)) << "the destructor left the handle open";
    CFile g;
    ASSERT_TRUE(g.Open(b.Path(), CFile::modeRead));
    h = g.m_hFile;
    g.Close();
    EXPECT_EQ(INVALID_HANDLE_VALUE, g.m_hFile);
    EXPECT_FALSE(HandleIsOpen(h)) << "Close left the handle open";
}

// An inheritable handle goes to every child process the program starts.
TEST(CFile, InheritanceFollowsNoInherit) {
    TempFile file("x");
    for (bool noInherit : {false, true}) {
        CFile f;
        ASSERT_TRUE(f.Open(file.Path(), CFile::modeRead | CFile::shareDenyNone |
                                            (noInherit ? UINT{CFile::modeNoInherit} : 0u)));
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(f.m_hFile, &flags));
        EXPECT_EQ(!noInherit, (flags & HANDLE_FLAG_INHERIT) != 0) << "modeNoInherit " << noInherit;
    }
}

}  // namespace
