// The system's side of fetching archives by entries: reading installed files for their
// checksums, the archive's tail, and assembling the fetched ranges into one file.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>
#include <zlib.h>

#include <cstring>
#include <new>

#include "Scoped.h"
#include "UpdateIo.h"

namespace {

constexpr DWORD kPortion = 1 << 20;

}  // namespace

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

ScopedHandle OpenToRead(const char* path) {
    // Others may read and even replace it meanwhile: what is read is what is judged.
    return ScopedHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool Identify(HANDLE file, FileIdentity* identity) {
    // The file's index alone, which the system's own call does not give without the volume's.
    using QueryFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                       FILE_INFORMATION_CLASS);
    const auto query = reinterpret_cast<QueryFile>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
    IO_STATUS_BLOCK status;
    FILE_INTERNAL_INFORMATION index;
    FILE_BASIC_INFO basic;
    LARGE_INTEGER size;
    if (query == nullptr ||
        query(file, &status, &index, sizeof index, FileInternalInformation) < 0 ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileSizeEx(file, &size))
        return false;
    identity->indexHigh = static_cast<DWORD>(index.IndexNumber.HighPart);
    identity->indexLow = index.IndexNumber.LowPart;
    identity->sizeHigh = static_cast<DWORD>(size.HighPart);
    identity->sizeLow = size.LowPart;
    identity->written.dwLowDateTime = basic.LastWriteTime.LowPart;
    identity->written.dwHighDateTime = static_cast<DWORD>(basic.LastWriteTime.HighPart);
    return true;
}

}  // namespace

bool SystemUpdateIo::SettleFile(const char* path, const FileIdentity& identity,
                                DWORD attributes, const FILETIME& stamp) {
    // One handle for the check and the change, so that nothing comes between them; it asks
    // for no more than attributes, so a reader or a read-only file does not stand in the way.
    const ScopedHandle file(CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    FileIdentity now;
    if (!file.IsValid() || !Identify(file, &now) || !(now == identity)) return false;
    FILE_BASIC_INFO basic = {};
    basic.CreationTime.LowPart = stamp.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(stamp.dwHighDateTime);
    basic.LastAccessTime = basic.LastWriteTime = basic.CreationTime;  // zero: left as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
        // Attributes the system refuses (an archive's bits are anyone's) leave the times.
        basic.FileAttributes = 0;
        SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    return true;
}

bool SystemUpdateIo::DigestFile(const char* path, ULONGLONG* size, uint32_t* crc32,
                                uint8_t* sha256, FileIdentity* identity) {
    const ScopedHandle in = OpenToRead(path);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kPortion]);
    if (!in.IsValid() || buffer == nullptr || (identity != nullptr && !Identify(in, identity)))
        return false;
    std::unique_ptr<Sha256> hash(sha256 != nullptr ? new (std::nothrow) Sha256 : nullptr);
    if (sha256 != nullptr && (hash == nullptr || !hash->IsValid())) return false;
    uLong crc = ::crc32(0, Z_NULL, 0);
    ULONGLONG total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer.get(), kPortion, &got, nullptr)) return false;
        if (got == 0) break;
        if (crc32 != nullptr) crc = ::crc32(crc, buffer.get(), got);
        if (hash != nullptr && !hash->Add(buffer.get(), got)) return false;
        total += got;
    }
    *size = total;
    if (crc32 != nullptr) *crc32 = static_cast<uint32_t>(crc);
    if (hash == nullptr) return true;
    uint8_t digest[kSha256Bytes];
    if (!hash->Finish(digest)) return false;
    std::memcpy(sha256, digest, sizeof digest);
    return true;
}

bool SystemUpdateIo::ReadPart(const char* path, ULONGLONG offset, size_t length,
                              std::string* bytes) {
    ScopedHandle in(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!in.IsValid() || !SetFilePointerEx(in, at, nullptr, FILE_BEGIN)) return false;
    bytes->assign(length, '\0');
    DWORD got = 0;
    return length == 0 || (ReadFile(in, &(*bytes)[0], static_cast<DWORD>(length), &got, nullptr) &&
                           got == length);
}

bool SystemUpdateIo::Place(const char* from, ULONGLONG length, const char* to, ULONGLONG offset) {
    ScopedHandle in(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    ScopedHandle out(CreateFileA(to, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!in.IsValid() || !out.IsValid() || !SetFilePointerEx(out, at, nullptr, FILE_BEGIN))
        return false;
    // The zeros between what is placed need no room where the disk can leave them out.
    DWORD returned = 0;
    DeviceIoControl(out, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    return CopyBytes(in, out, length);
}

ZipResult DigestEntry(ZipHandle* zip, int32_t index, uint8_t (&sha256)[kSha256Bytes]) {
    ZipEntry entry;
    const ZipResult record = ZipGetEntry(zip, index, &entry);
    if (record != ZipOk) return record;
    Sha256 hash;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kPortion]);
    if (!hash.IsValid() || buffer == nullptr) return ZipOutOfMemory;
    // In parts, each filled but the last: the layer checks the CRC-32 and the length when
    // asked past the end.
    for (uint64_t left = entry.uncompressedSize;;) {
        const ZipResult part =
            ZipExtractEntry(zip, index, buffer.get(), kPortion, ZipLocationMemory);
        if (part == ZipOk) break;
        if (part != ZipMoreData || left == 0) return part == ZipInflateError || part == ZipMoreData
                                                          ? ZipCorrupt
                                                          : part;
        const size_t got = left < kPortion ? static_cast<size_t>(left) : kPortion;
        if (!hash.Add(buffer.get(), got)) return ZipOutOfMemory;
        left -= got;
    }
    return hash.Finish(sha256) ? ZipOk : ZipOutOfMemory;
}
