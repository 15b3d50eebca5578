#include "ZipTestSupport.h"

#include <zip.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace {

constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;

void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(path);
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

}  // namespace

Bytes BuildArchive(const std::vector<EntrySpec>& entries, const std::string& comment) {
    ScratchFolder scratch;
    std::string path = scratch / "built.zip";
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) throw std::runtime_error("zipOpen failed");
    for (const EntrySpec& e : entries) {
        zip_fileinfo info{};
        info.dosDate = e.dosTime;
        info.external_fa = e.external;
        const char* extra = e.localExtra.empty() ? nullptr : e.localExtra.data();
        int opened = zipOpenNewFileInZip4(
            zip, e.name.c_str(), &info, extra, static_cast<uInt>(e.localExtra.size()), nullptr, 0,
            nullptr, e.method, e.method == 0 ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
            DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, e.madeBy, 0);
        if (opened != ZIP_OK) throw std::runtime_error("zipOpenNewFileInZip4 failed");
        if (!e.data.empty() &&
            zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) !=
                ZIP_OK) {
            throw std::runtime_error("zipWriteInFileInZip failed");
        }
        zipCloseFileInZip(zip);
    }
    if (zipClose(zip, comment.empty() ? nullptr : comment.c_str()) != ZIP_OK)
        throw std::runtime_error("zipClose failed");
    Bytes bytes;
    if (!ReadBytes(path, &bytes)) throw std::runtime_error("cannot read the built archive");
    return bytes;
}

Layout ReadLayout(const Bytes& archive) {
    Layout layout;
    for (size_t i = archive.size() - 22 + 1; i-- > 0;) {
        if (Get32(archive, i) == kEndSignature) {
            layout.endRecord = i;
            break;
        }
    }
    size_t at = Get32(archive, layout.endRecord + 16);
    for (uint16_t n = Get16(archive, layout.endRecord + kEndEntries); n > 0; --n) {
        if (Get32(archive, at) != kCentralSignature) break;
        layout.central.push_back(at);
        layout.local.push_back(Get32(archive, at + 42));
        at += 46 + Get16(archive, at + 28) + Get16(archive, at + 30) + Get16(archive, at + 32);
    }
    return layout;
}

void Put16(Bytes& bytes, size_t at, uint16_t value) {
    bytes.at(at) = static_cast<uint8_t>(value);
    bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32(Bytes& bytes, size_t at, uint32_t value) {
    Put16(bytes, at, static_cast<uint16_t>(value));
    Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

uint16_t Get16(const Bytes& bytes, size_t at) {
    return static_cast<uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

uint32_t Get32(const Bytes& bytes, size_t at) {
    return Get16(bytes, at) | (static_cast<uint32_t>(Get16(bytes, at + 2)) << 16);
}

size_t DataOffset(const Bytes& archive, const Layout& layout, size_t k) {
    size_t local = layout.local.at(k);
    return local + kLocalHeaderSize + Get16(archive, local + kLocalNameLength) +
           Get16(archive, local + kLocalNameLength + 2);
}

std::string ExtraBlock(uint16_t id, const std::string& data) {
    std::string block;
    block += static_cast<char>(id & 0xFF);
    block += static_cast<char>(id >> 8);
    block += static_cast<char>(data.size() & 0xFF);
    block += static_cast<char>((data.size() >> 8) & 0xFF);
    return block + data;
}

std::string TimestampBlock(uint8_t flags, const std::vector<int32_t>& times) {
    std::string data(1, static_cast<char>(flags));
    for (int32_t t : times) {
        uint32_t u = static_cast<uint32_t>(t);
        for (int i = 0; i < 4; ++i) data += static_cast<char>((u >> (8 * i)) & 0xFF);
    }
    return ExtraBlock(0x5455, data);
}

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    std::snprintf(name, sizeof name, "ziptest-%lu-%u", GetCurrentProcessId(), counter++);
    m_path = std::string(temp) + name;
    RemoveTree(m_path);
    if (!CreateDirectoryA(m_path.c_str(), nullptr))
        throw std::runtime_error("cannot make " + m_path);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }

std::string ScratchFolder::operator/(const std::string& name) const { return m_path + "\\" + name; }

CurrentFolder::CurrentFolder(const std::string& folder) {
    GetCurrentDirectoryA(MAX_PATH, m_saved);
    SetCurrentDirectoryA(folder.c_str());
}

CurrentFolder::~CurrentFolder() { SetCurrentDirectoryA(m_saved); }

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    CloseHandle(file);
    return ok;
}

bool ReadBytes(const std::string& path, Bytes* bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bytes->assign(size, 0);
    DWORD read = 0;
    bool ok = size == 0 || (ReadFile(file, bytes->data(), size, &read, nullptr) && read == size);
    CloseHandle(file);
    return ok;
}

std::string ReadText(const std::string& path) {
    Bytes bytes;
    if (!ReadBytes(path, &bytes)) return "<unreadable>";
    return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

FILETIME WriteTimeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

uint64_t Ticks(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME FromUnixTime(int64_t seconds) {
    time_t t = static_cast<time_t>(seconds);
    const tm* utc = gmtime(&t);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(utc->tm_year + 1900);
    st.wMonth = static_cast<WORD>(utc->tm_mon + 1);
    st.wDay = static_cast<WORD>(utc->tm_mday);
    st.wHour = static_cast<WORD>(utc->tm_hour);
    st.wMinute = static_cast<WORD>(utc->tm_min);
    st.wSecond = static_cast<WORD>(utc->tm_sec);
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

FILETIME FromDosLocal(uint32_t dosTime) {
    FILETIME local{}, utc{};
    DosDateTimeToFileTime(HIWORD(dosTime), LOWORD(dosTime), &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}
