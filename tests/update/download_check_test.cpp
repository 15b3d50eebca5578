#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "DownloadCheck.h"

namespace {

TEST(ParseHttpStatus, ReadsOnlyAWellFormedStatusLine) {
    struct Case {
        const char* headers;
        DWORD status;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", 200},
        {"HTTP/1.1 503 Service Unavailable\r\n\r\n", 503},
        {"HTTP/1.0 404 Not Found\r\n", 404},
        {"HTTP/1.1 206 Partial Content\r\n", 206},
        {"HTTP/1.1 2000 Odd\r\n", 0},
        {"HTTP/1.1 20\r\n", 0},
        {"HTTP/1.1\r\n200 OK\r\n", 0},
        {"FTP 200 OK\r\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status, ParseHttpStatus(c.headers, std::strlen(c.headers))) << c.headers;
    }
    const char unterminated[] = {'H', 'T', 'T', 'P', '/', '1', ' ', '5', '0', '3'};
    EXPECT_EQ(503u, ParseHttpStatus(unterminated, sizeof unterminated));
}

TEST(HasAnnouncedLength, RefusesShortAndLongFiles) {
    const std::string path = "download_check_" + std::to_string(GetCurrentProcessId());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite("0123456789", 1, 10, f);
    std::fclose(f);
    struct Case {
        const char* fault;
        DWORD announced;
        bool whole;
    } cases[] = {
        {"no length announced", 0, true},
        {"exact length", 10, true},
        {"connection closed halfway", 20, false},
        {"more than announced", 5, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.whole, HasAnnouncedLength(path.c_str(), c.announced)) << c.fault;
    }
    DeleteFileA(path.c_str());
    EXPECT_FALSE(HasAnnouncedLength(path.c_str(), 10)) << "a file that is gone";
}

}  // namespace
