// Kernel and registry handle owners: after the owner is gone, so is the handle; moved and
// released handles are closed exactly once.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "Scoped.h"

namespace {

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return GetHandleInformation(h, &flags) != FALSE;
}

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(ScopedHandle, ReleasesOnEveryPath) {
    struct Case {
        const char* fault;
        void (*run)(HANDLE h);
        bool openAfter;
    } cases[] = {
        {"scope end closes", [](HANDLE h) { ScopedHandle owner(h); }, false},
        {"early return closes",
         [](HANDLE h) {
             ScopedHandle owner(h);
             if (owner.IsValid()) return;
             ADD_FAILURE();
         },
         false},
        {"exception closes",
         [](HANDLE h) {
             try {
                 ScopedHandle owner(h);
                 throw 1;
             } catch (int) {
             }
         },
         false},
        {"Reset closes the old handle",
         [](HANDLE h) {
             ScopedHandle owner(h);
             owner.Reset();
             EXPECT_FALSE(owner.IsValid());
         },
         false},
        {"moved-to owner closes, moved-from does not close twice",
         [](HANDLE h) {
             ScopedHandle a(h);
             ScopedHandle b(std::move(a));
             EXPECT_FALSE(a.IsValid());
             EXPECT_EQ(h, b.Get());
         },
         false},
        {"move assignment closes the target's old handle",
         [](HANDLE h) {
             ScopedHandle target(NewEvent());
             HANDLE old = target;
             ScopedHandle source(h);
             target = std::move(source);
             EXPECT_FALSE(HandleIsOpen(old));
             EXPECT_EQ(h, target.Get());
         },
         false},
        {"Release hands the handle over unclosed",
         [](HANDLE h) {
             ScopedHandle owner(h);
             EXPECT_EQ(h, owner.Release());
             EXPECT_FALSE(owner.IsValid());
         },
         true},
    };
    for (const Case& c : cases) {
        HANDLE h = NewEvent();
        ASSERT_TRUE(HandleIsOpen(h)) << c.fault;
        c.run(h);
        EXPECT_EQ(c.openAfter, HandleIsOpen(h)) << c.fault;
        if (c.openAfter) CloseHandle(h);
    }
}

TEST(ScopedHandle, BothEmptyValuesAreEmpty) {
    ScopedHandle none;
    EXPECT_FALSE(none.IsValid());
    ScopedHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid.IsValid());
    ScopedHandle failedOpen(
        CreateFileA("Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(failedOpen.IsValid());
    // INVALID_HANDLE_VALUE is also the pseudo handle of the current process: closing it
    // would be wrong, and the process must still be usable afterwards.
    invalid.Reset();
    EXPECT_NE(0u, GetProcessId(GetCurrentProcess()));
}

TEST(ScopedRegKey, ClosesTheKey) {
    const char* path = "Software\\KitFrameworkTests\\ScopedRegKey";
    HKEY raw = nullptr;
    {
        HKEY k = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                                 KEY_READ | KEY_WRITE, nullptr, &k, nullptr));
        ScopedRegKey key(k);
        raw = key;
        DWORD values = 0;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr));
    }
    DWORD values = 0;
    EXPECT_NE(ERROR_SUCCESS,
              RegQueryInfoKeyA(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr));
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KitFrameworkTests");
}

}  // namespace
