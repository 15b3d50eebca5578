// What Wine ignores but Windows acts on: the manifest and the image flags of the built
// Update.exe, read out of the file named on the command line.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* g_program = "Update.exe";

std::string ManifestOf(const char* path) {
    HMODULE image = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return "";
    std::string text;
    if (HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
        if (bytes != nullptr) text.assign(bytes, SizeofResource(image, found));
    }
    FreeLibrary(image);
    return text;
}

WORD DllCharacteristicsOf(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < sizeof(IMAGE_DOS_HEADER)) return 0;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    const size_t at = dos->e_lfanew;
    if (at + sizeof(IMAGE_NT_HEADERS64) > file.size()) return 0;
    const auto* nt32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + at);
    if (nt32->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return nt32->OptionalHeader.DllCharacteristics;
    return reinterpret_cast<const IMAGE_NT_HEADERS64*>(file.data() + at)
        ->OptionalHeader.DllCharacteristics;
}

TEST(UpdateImage, ManifestKeepsItUnelevatedOnEveryVersion) {
    const std::string manifest = ManifestOf(g_program);
    ASSERT_FALSE(manifest.empty()) << "no manifest resource (type 24, id 1) in " << g_program;
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
    for (const auto& c : cases) {
        EXPECT_NE(std::string::npos, manifest.find(c.text)) << c.fault;
    }
}

TEST(UpdateImage, KeepsAslrAndDep) {
    const WORD flags = DllCharacteristicsOf(g_program);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE) << "loaded at a fixed address";
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT) << "data pages executable";
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) g_program = argv[1];
    return RUN_ALL_TESTS();
}
