// Damaged archives by the thousand through every access path (bench/ZipFuzz.h says how).
#include <gtest/gtest.h>

#include "ZipFuzz.h"
#include "ZipTestSupport.h"

namespace {

TEST(Fuzz, EveryMutantGetsOneAnswerInBoundedStepsAndWritesOnlyBelowItsBase) {
    ScratchFolder scratch;
    FuzzSettings settings;
    settings.count = 2000;
    settings.work = scratch / "fuzz";
    const FuzzFigures f = RunZipFuzz(settings);
    for (const std::string& line : f.failures) ADD_FAILURE() << line;
    EXPECT_EQ(settings.count, f.mutants);
    // Mutants that all fail at opening would test nothing past ZipOpen.
    EXPECT_GT(f.opened, settings.count / 4);
}

}  // namespace
