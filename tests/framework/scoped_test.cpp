// Handle owners: after the owner is gone, or reset, so is the handle. The owner template is
// shared by every handle kind, so it is tested here once, with kernel handles; the registry
// key's trait below, the GDI traits through the paint pass's tests.
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
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    { ScopedRegKey owner(key); }
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace
