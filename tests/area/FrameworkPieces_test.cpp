// The framework pieces Area.dll stands on: exceptions and the extension-library chain.
#include <windows.h>
#include <gtest/gtest.h>

#include "Exceptions.h"
#include "ExtensionModule.h"

namespace {

int g_destroyed = 0;

struct ProbeException : CException {
    explicit ProbeException(BOOL bAutoDelete) : CException(bAutoDelete) {}
    ~ProbeException() override { ++g_destroyed; }
};

// The framework throws static objects: a Delete that freed them would free what was never
// allocated, and the next throw would point to freed memory.
TEST(FrameworkExceptions, DeleteFreesOnlyAutoDeletingObjects) {
    CException* thrown[2] = {};
    for (CException*& e : thrown) {
        try {
            AfxThrowMemoryException();
        } catch (CMemoryException* caught) {
            e = caught;
            caught->Delete();
        }
    }
    ASSERT_NE(nullptr, thrown[0]);
    EXPECT_EQ(thrown[0], thrown[1]);
    g_destroyed = 0;
    (new ProbeException(TRUE))->Delete();
    EXPECT_EQ(1, g_destroyed);
    ProbeException kept(FALSE);
    kept.Delete();
    EXPECT_EQ(1, g_destroyed);
}

// Distinct fake module handles: the chain only compares them.
HMODULE FakeModule(int n) { return reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x10000 * n)); }

struct ProbeLibrary : CDynLinkLibrary {
    explicit ProbeLibrary(AFX_EXTENSION_MODULE& state) : CDynLinkLibrary(state) {}
    ~ProbeLibrary() override { ++g_destroyed; }
};

// A library's term must delete its own entries exactly once: not another library's, not
// one its owner deleted already, not one a previous term deleted.
TEST(FrameworkExtensionModule, TermDeletesItsOwnLibrariesOnce) {
    AFX_EXTENSION_MODULE mine = {};
    AFX_EXTENSION_MODULE other = {};
    ASSERT_TRUE(AfxInitExtensionModule(mine, FakeModule(2)));
    ASSERT_TRUE(AfxInitExtensionModule(other, FakeModule(3)));
    g_destroyed = 0;
    auto* early = new ProbeLibrary(mine);
    new ProbeLibrary(mine);
    new ProbeLibrary(other);
    new ProbeLibrary(mine);
    delete early;
    AfxTermExtensionModule(mine);
    EXPECT_EQ(3, g_destroyed) << "own libraries";
    AfxTermExtensionModule(mine);
    EXPECT_EQ(3, g_destroyed) << "a second term";
    AfxTermExtensionModule(other);
    EXPECT_EQ(4, g_destroyed);
}

}  // namespace
