// The framework's exceptions as Area.dll throws them and a host deletes them, and the chain
// its library entry lives in.
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

// The framework throws static objects, the same one each time: a Delete that freed them would
// free what was never allocated.
TEST(FrameworkExceptions, DeleteFreesOnlyAutoDeletingObjects) {
    CException* thrown[2] = {};
    for (CException*& e : thrown) {
        try {
            AfxThrowMemoryException();
        } catch (CMemoryException* caught) {
            (e = caught)->Delete();
        }
    }
    EXPECT_TRUE(thrown[0] != nullptr && thrown[0] == thrown[1]);
    ProbeException kept(FALSE);
    kept.Delete();
    EXPECT_EQ(0, g_destroyed) << "a static exception was freed";
    (new ProbeException(TRUE))->Delete();
    EXPECT_EQ(1, g_destroyed);
}

struct ProbeLibrary : CDynLinkLibrary {
    explicit ProbeLibrary(AFX_EXTENSION_MODULE& state) : CDynLinkLibrary(state) {}
    ~ProbeLibrary() override { ++g_destroyed; }
};

// A term deletes every entry of its own module once, and none of another's (the chain only
// compares the module handles, so these need not be real).
TEST(FrameworkExtensionModule, TermDeletesItsOwnLibrariesOnce) {
    AFX_EXTENSION_MODULE mine = {}, other = {};
    ASSERT_TRUE(AfxInitExtensionModule(mine, reinterpret_cast<HMODULE>(0x20000)));
    ASSERT_TRUE(AfxInitExtensionModule(other, reinterpret_cast<HMODULE>(0x30000)));
    g_destroyed = 0;
    for (AFX_EXTENSION_MODULE* m : {&mine, &other, &mine}) new ProbeLibrary(*m);
    AfxTermExtensionModule(mine);
    EXPECT_EQ(2, g_destroyed);
    AfxTermExtensionModule(other);
    EXPECT_EQ(3, g_destroyed);
}

}  // namespace
