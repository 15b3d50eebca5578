// Kernel and registry handle owners: after the owner is gone, so is the handle; moved and
// released handles are closed exactly once. The owner template is shared by every handle
// kind, so its moves are tested here once; the GDI traits through the paint pass's tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <utility>

#include "Scoped.h"

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return GetHandleInformation(h, &flags) != FALSE;
}

namespace {

HANDLE NewEvent() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

TEST(ScopedHandle, ClosesExactlyOnce) {
    const struct {
        const char* fault;
        void (*run)(HANDLE h);
        bool openAfter;
    } cases[] = {
        {"scope end closes", [](HANDLE h) { ScopedHandle owner(h); }, false},
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
             target = ScopedHandle(h);
             EXPECT_FALSE(HandleIsOpen(old));
             EXPECT_EQ(h, target.Get());
         },
         false},
        {"Release hands the handle over unclosed",
         [](HANDLE h) { EXPECT_EQ(h, ScopedHandle(h).Release()); }, true},
    };
    for (const auto& c : cases) {
        HANDLE h = NewEvent();
        c.run(h);
        EXPECT_EQ(c.openAfter, HandleIsOpen(h)) << c.fault;
        if (c.openAfter) CloseHandle(h);
    }
    // A failed CreateFile gives INVALID_HANDLE_VALUE, which is also the current process.
    EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE).IsValid());
}

TEST(ScopedRegKey, ClosesTheKey) {
    const char* path = "Software\\KitFrameworkTests";
    HKEY raw = nullptr;
    auto query = [](HKEY k) {
        return RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
    };
    {
        HKEY k = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                                                 KEY_READ | KEY_WRITE, nullptr, &k, nullptr));
        ScopedRegKey key(k);
        raw = key;
        EXPECT_EQ(ERROR_SUCCESS, query(key));
    }
    EXPECT_NE(ERROR_SUCCESS, query(raw));
    RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

}  // namespace
