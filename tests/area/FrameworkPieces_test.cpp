// The framework pieces Area.dll stands on: exceptions and the extension-library chain.
#include <windows.h>
#include <gtest/gtest.h>

#include "Exceptions.h"
#include "ExtensionModule.h"

namespace {

TEST(FrameworkExceptions, ThrowsPointToStaticObjects) {
    CException* first = nullptr;
    try {
        AfxThrowMemoryException();
    } catch (CMemoryException* e) {
        first = e;
        e->Delete();
    }
    ASSERT_NE(nullptr, first);
    try {
        AfxThrowMemoryException();
    } catch (CException* e) {
        EXPECT_EQ(first, e) << "Delete() must not have freed the static exception";
        e->Delete();
    }
    bool invalid = false;
    try {
        AfxThrowInvalidArgException();
    } catch (CInvalidArgException* e) {
        invalid = true;
        e->Delete();
    }
    EXPECT_TRUE(invalid);
}

int g_destroyedExceptions = 0;
struct ProbeException : CException {
    explicit ProbeException(BOOL bAutoDelete) : CException(bAutoDelete) {}
    ~ProbeException() override { ++g_destroyedExceptions; }
};

TEST(FrameworkExceptions, DeleteFreesOnlyAutoDeletingObjects) {
    g_destroyedExceptions = 0;
    (new ProbeException(TRUE))->Delete();
    EXPECT_EQ(1, g_destroyedExceptions);
    ProbeException kept(FALSE);
    kept.Delete();
    EXPECT_EQ(1, g_destroyedExceptions);
}

// Distinct fake module handles: the chain only compares them.
HMODULE FakeModule(int n) { return reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x10000 * n)); }

int g_destroyedLibraries = 0;
struct ProbeLibrary : CDynLinkLibrary {
    explicit ProbeLibrary(AFX_EXTENSION_MODULE& state) : CDynLinkLibrary(state) {}
    ~ProbeLibrary() override { ++g_destroyedLibraries; }
};

TEST(FrameworkExtensionModule, InitRecordsTheModuleAndRefusesNull) {
    AFX_EXTENSION_MODULE state = {};
    EXPECT_FALSE(AfxInitExtensionModule(state, nullptr));
    EXPECT_FALSE(state.bInitialized);
    EXPECT_TRUE(AfxInitExtensionModule(state, FakeModule(1)));
    EXPECT_TRUE(state.bInitialized);
    EXPECT_EQ(FakeModule(1), state.hModule);
    EXPECT_EQ(FakeModule(1), state.hResource);
    EXPECT_TRUE(AfxInitExtensionModule(state, FakeModule(1))) << "a second init succeeds";
    AfxTermExtensionModule(state);
    EXPECT_FALSE(state.bInitialized);
}

TEST(FrameworkExtensionModule, TermDeletesOnlyItsOwnLibraries) {
    AFX_EXTENSION_MODULE mine = {};
    AFX_EXTENSION_MODULE other = {};
    ASSERT_TRUE(AfxInitExtensionModule(mine, FakeModule(2)));
    ASSERT_TRUE(AfxInitExtensionModule(other, FakeModule(3)));
    g_destroyedLibraries = 0;
    new ProbeLibrary(mine);
    new ProbeLibrary(other);
    new ProbeLibrary(mine);

    AfxTermExtensionModule(mine);
    EXPECT_EQ(2, g_destroyedLibraries);
    AfxTermExtensionModule(mine);
    EXPECT_EQ(2, g_destroyedLibraries) << "a second term finds nothing left";
    AfxTermExtensionModule(other);
    EXPECT_EQ(3, g_destroyedLibraries);
}

TEST(FrameworkExtensionModule, TermAllDeletesEveryLibrary) {
    AFX_EXTENSION_MODULE first = {};
    AFX_EXTENSION_MODULE second = {};
    ASSERT_TRUE(AfxInitExtensionModule(first, FakeModule(4)));
    ASSERT_TRUE(AfxInitExtensionModule(second, FakeModule(5)));
    g_destroyedLibraries = 0;
    new ProbeLibrary(first);
    new ProbeLibrary(second);
    AfxTermExtensionModule(first, TRUE);
    EXPECT_EQ(2, g_destroyedLibraries);
}

// A library deleted by its owner leaves the chain: term must not delete it again.
TEST(FrameworkExtensionModule, DeletedLibraryLeavesTheChain) {
    AFX_EXTENSION_MODULE state = {};
    ASSERT_TRUE(AfxInitExtensionModule(state, FakeModule(6)));
    g_destroyedLibraries = 0;
    auto* early = new ProbeLibrary(state);
    new ProbeLibrary(state);
    delete early;
    EXPECT_EQ(1, g_destroyedLibraries);
    AfxTermExtensionModule(state);
    EXPECT_EQ(2, g_destroyedLibraries);
}

}  // namespace
