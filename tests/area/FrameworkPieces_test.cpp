// The framework's exceptions as Area.dll throws them and a host deletes them.
#include <windows.h>
#include <gtest/gtest.h>

#include "Exceptions.h"

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

}  // namespace
