// Kernel and registry handle owners: after the owner is gone, or reset, so is the handle.
// The owner template is shared by every handle kind, so it is tested here once; the GDI
// traits through the paint pass's tests.
#include <windows.h>

#include <gtest/gtest.h>

#include "Scoped.h"

bool HandleIsOpen(HANDLE h) {
    DWORD flags;
    return GetHandleInformation(h, &flags) != FALSE;
}

namespace {

TEST(ScopedHandle, ClosesTheHandle) {
    const struct {
        const char* fault;
        void (*run)(HANDLE h);
    } cases[] = {
        {"scope end closes", [](HANDLE h) { ScopedHandle owner(h); }},
        {"Reset closes the old handle",
         [](HANDLE h) {
             ScopedHandle owner(h);
             owner.Reset();
             EXPECT_FALSE(owner.IsValid());
         }},
    };
    for (const auto& c : cases) {
        HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        c.run(h);
        EXPECT_FALSE(HandleIsOpen(h)) << c.fault;
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
