// CFile: the one mode the kit opens files in, what it refuses, and who closes the handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "File.h"

bool HandleIsOpen(HANDLE h);  // scoped_test.cpp

namespace {

std::string TempPath(const char* tag) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "kit_cfile_" + std::to_string(GetCurrentProcessId()) + "_" + tag;
}

TEST(CFile, OpensExistingFilesReadWriteAndAlone) {
    const std::string path = TempPath("a");
    HANDLE made = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, made);
    DWORD written = 0;
    WriteFile(made, "old", 3, &written, nullptr);
    CloseHandle(made);

    const struct {
        const char* fault;
        const char* name;
        UINT flags;
        bool opens;
    } cases[] = {
        {"read-write of an existing file opens", path.c_str(), CFile::modeReadWrite, true},
        {"a missing file is not created", "Z:\\no\\such\\kit\\file", CFile::modeReadWrite, false},
        {"a null name is refused", nullptr, CFile::modeReadWrite, false},
        {"another mode is refused", path.c_str(), 0x1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        CFile f;
        EXPECT_EQ(c.opens, f.Open(c.name, c.flags) != FALSE);
        EXPECT_EQ(c.opens, f.m_hFile != INVALID_HANDLE_VALUE);
        if (!c.opens) continue;
        EXPECT_EQ(3u, GetFileSize(f.m_hFile, nullptr)) << "the contents were truncated";
        DWORD flags = 0;
        ASSERT_TRUE(GetHandleInformation(f.m_hFile, &flags));
        EXPECT_NE(0u, flags & HANDLE_FLAG_INHERIT);
        // Even a reader that lets everyone in must be kept out.
        HANDLE reader = CreateFileA(c.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(INVALID_HANDLE_VALUE, reader) << "the file was shared";
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        EXPECT_FALSE(f.Open(c.name, c.flags)) << "an open object opened again";
    }
    DeleteFileA(path.c_str());
}

TEST(CFile, HandleIsClosedOnceAndOnlyByItsOwner) {
    const std::string path = TempPath("b");
    CloseHandle(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    HANDLE h;
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite));
        h = f.m_hFile;
    }
    EXPECT_FALSE(HandleIsOpen(h)) << "the destructor left the handle open";
    CFile g;
    ASSERT_TRUE(g.Open(path.c_str(), CFile::modeReadWrite));
    h = g.m_hFile;
    g.Close();
    EXPECT_EQ(INVALID_HANDLE_VALUE, g.m_hFile);
    EXPECT_FALSE(HandleIsOpen(h)) << "Close left the handle open";
    g.Close();
    DeleteFileA(path.c_str());
}

}  // namespace
