// What Wine ignores but Windows acts on, read out of the Update.exe named on the command line.
// Its ASLR and DEP flags are the release set's check (scripts/package).
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const char* g_program = "Update.exe";

TEST(UpdateImage, ManifestKeepsItUnelevatedAndUnvirtualised) {
    HMODULE image = LoadLibraryExA(g_program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, image) << g_program;
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, found) << "no manifest resource (type 24, id 1)";
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(image, found))),
                               SizeofResource(image, found));
    const struct {
        const char* fault;
        const char* text;
    } cases[] = {
        {"installer detection elevates it", "level=\"asInvoker\""},
        {"asks for UI access", "uiAccess=\"false\""},
        {"Vista virtualises its writes", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"},
        {"7 treats it as older", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
        {"8 treats it as older", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
        {"8.1 treats it as older", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
        {"10 and 11 treat it as older", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"},
    };
    for (const auto& c : cases) EXPECT_NE(std::string::npos, manifest.find(c.text)) << c.fault;
    FreeLibrary(image);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) g_program = argv[1];
    return RUN_ALL_TESTS();
}
