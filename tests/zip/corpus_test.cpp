// Archives other tools wrote, read in place from the shared corpus beside the repository.
#include <gtest/gtest.h>

#include <algorithm>

#include "ZipTestSupport.h"

namespace {

// One letter per entry: 'f' a file whose data reads back with a matching CRC-32, 'd' a
// folder, 'c' an entry refused as corrupt (unsupported method, encryption, mismatching
// headers), 'x' a file whose data fails its CRC-32.
struct CorpusCase {
    const char* name;
    const char* file;
    const char* entries;
};

const CorpusCase kCorpus[] = {
    {"ExplorerCompressedFolder", "yauzl__windows-compressed-folder.zip", "ff"},
    {"DataDescriptorsWithEmptyLocalHeaders", "libarchive__test_compat_zip_5.zip", "ffffffffffff"},
    {"StubInFrontOffsetsNotAdjusted", "libarchive__test_read_format_zip_sfx.zip", "ff"},
    {"Utf8Names", "yauzl__unicode.zip", "ddfdf"},
    {"Cp932NamesWithBackslashTrailBytes", "libarchive__test_read_format_zip_filename_cp932.zip",
     "ff"},
    {"Zip64EndRecord", "yauzl__zip64.zip", "ff"},
    {"LzmaRefusedFoldersKept", "libarchive__test_read_format_zip_7z_lzma.zip", "ddddcdddc"},
    {"StrongEncryptionRefusedPlainEntryRead",
     "libarchive__test_read_format_zip_encryption_partially.zip", "fc"},
};

TEST(Corpus, ReadsWhatIsReadableAndRefusesTheRest) {
    if (GetFileAttributesA(KIT_ZIP_CORPUS) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no corpus at " << KIT_ZIP_CORPUS;
    std::vector<char> buffer(1 << 20);
    for (const CorpusCase& c : kCorpus) {
        SCOPED_TRACE(c.name);
        std::string path = std::string(KIT_ZIP_CORPUS) + "\\" + c.file;
        ZipHandle* zip = ZipOpen(path.c_str(), 0, ZipLocationFileName);
        ASSERT_NE(nullptr, zip) << "result " << std::hex << ZipLastResult;
        ZipEntry entry;
        ASSERT_EQ(ZipOk, ZipGetEntry(zip, -1, &entry));
        std::string found;
        for (int32_t i = 0, count = entry.index; i < count; ++i) {
            if (ZipGetEntry(zip, i, &entry) != ZipOk) {
                found += ZipLastResult == ZipCorrupt ? 'c' : '?';
                continue;
            }
            ZipResult r;
            uint64_t delivered = 0;
            while ((r = ZipExtractEntry(zip, i, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                        ZipLocationMemory)) == ZipMoreData) {
                delivered += std::min<uint64_t>(buffer.size(), entry.uncompressedSize - delivered);
            }
            if (r == ZipCorrupt) {
                found += 'x';
            } else if (r != ZipOk || delivered != entry.uncompressedSize) {
                found += '?';
            } else {
                found += (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 'd' : 'f';
            }
        }
        EXPECT_EQ(c.entries, found);
        EXPECT_EQ(ZipOk, ZipClose(zip));
    }
}

}  // namespace
