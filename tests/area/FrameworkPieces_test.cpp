// The extension-library chain Area.dll registers in. The framework's exceptions are tested
// where Area.dll throws them (AreaFault_test.cpp).
#include <windows.h>
#include <gtest/gtest.h>

#include "ExtensionModule.h"

namespace {

int g_destroyed = 0;

// Distinct fake module handles: the chain only compares them.
HMODULE FakeModule(int n) { return reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x10000 * n)); }

struct ProbeLibrary : CDynLinkLibrary {
    explicit ProbeLibrary(AFX_EXTENSION_MODULE& state) : CDynLinkLibrary(state) {}
    ~ProbeLibrary() override { ++g_destroyed; }
};

// A library's term deletes its own entries once: not another library's, not again.
TEST(FrameworkExtensionModule, TermDeletesItsOwnLibrariesOnce) {
    AFX_EXTENSION_MODULE mine = {}, other = {};
    ASSERT_TRUE(AfxInitExtensionModule(mine, FakeModule(2)));
    ASSERT_TRUE(AfxInitExtensionModule(other, FakeModule(3)));
    g_destroyed = 0;
    new ProbeLibrary(mine);
    new ProbeLibrary(other);
    new ProbeLibrary(mine);
    AfxTermExtensionModule(mine);
    EXPECT_EQ(2, g_destroyed) << "its own libraries";
    AfxTermExtensionModule(mine);
    EXPECT_EQ(2, g_destroyed) << "a second term";
    AfxTermExtensionModule(other);
    EXPECT_EQ(3, g_destroyed);
}

}  // namespace
