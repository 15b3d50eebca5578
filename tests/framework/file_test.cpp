// CFile as the updater uses it: an existing file opened to stamp its times, never created or
// truncated, and its handle closed by Close or by the object's end.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "File.h"

bool HandleIsOpen(HANDLE h);  // scoped_test.cpp

namespace {

TEST(CFile, OpensOnlyExistingFilesWholeAndClosesTheHandle) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    const std::string path =
        std::string(dir) + "kit_cfile_" + std::to_string(GetCurrentProcessId());
    HANDLE made = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, made);
    DWORD written = 0;
    WriteFile(made, "old", 3, &written, nullptr);
    CloseHandle(made);

    CFile missing;
    EXPECT_FALSE(missing.Open((path + ".none").c_str(), CFile::modeReadWrite)) << "made a file";
    EXPECT_EQ(INVALID_HANDLE_VALUE, missing.m_hFile);
    HANDLE h;
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite));
        EXPECT_EQ(3u, GetFileSize(f.m_hFile, nullptr)) << "the contents were truncated";
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
