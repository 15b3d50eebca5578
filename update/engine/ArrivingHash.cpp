#include "ArrivingHash.h"

namespace {

constexpr DWORD kPortion = 256 * 1024;
constexpr DWORD kLookMs = 100;

}  // namespace

ArrivingHash::ArrivingHash() : m_more(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

ArrivingHash::~ArrivingHash() {
    if (!m_thread.IsValid()) return;
    {
        ScopedSrwLock hold(m_lock);
        m_ending = true;
    }
    SetEvent(m_more);
    WaitForSingleObject(m_thread, INFINITE);
}

void ArrivingHash::CacheFile(const wchar_t* path) {
    // Wide strings would cost the program a tenth of its size: a path that does not fit is
    // not followed.
    if (m_thread.IsValid() || path == nullptr || !m_more.IsValid() || !m_sha.IsValid() ||
        lstrlenW(path) >= MAX_PATH)
        return;
    lstrcpynW(m_path, path, MAX_PATH);
    m_buffer.reset(new (std::nothrow) char[kPortion]);
    if (m_buffer) m_thread.Reset(CreateThread(nullptr, 0, &Follow, this, 0, nullptr));
}

void ArrivingHash::Arrived(ULONGLONG bytes) {
    {
        ScopedSrwLock hold(m_lock);
        m_arrived = bytes;
    }
    SetEvent(m_more);
}

bool ArrivingHash::Finish(ULONGLONG length, uint8_t (&digest)[kSha256Bytes]) {
    if (!m_thread.IsValid()) return false;
    {
        ScopedSrwLock hold(m_lock);
        m_finishing = true;
        m_length = length;
    }
    SetEvent(m_more);
    WaitForSingleObject(m_thread, INFINITE);
    m_thread.Reset();
    return !m_failed && m_hashed == length && m_sha.Finish(digest);
}

bool ArrivingHash::CatchUp(HANDLE file, ULONGLONG upTo) {
    while (m_hashed < upTo) {
        const ULONGLONG left = upTo - m_hashed;
        const DWORD want = left < kPortion ? static_cast<DWORD>(left) : kPortion;
        DWORD got = 0;
        if (!ReadFile(file, m_buffer.get(), want, &got, nullptr) || got == 0) return false;
        if (!m_sha.Add(m_buffer.get(), got)) return false;
        m_hashed += got;
    }
    return true;
}

DWORD WINAPI ArrivingHash::Follow(LPVOID self) {
    auto* hash = static_cast<ArrivingHash*>(self);
    // The download goes on writing the file, and the system may move or delete it meanwhile.
    ScopedHandle file(CreateFileW(hash->m_path, GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    hash->m_failed = !file.IsValid();
    while (!hash->m_failed) {
        bool finishing, ending;
        ULONGLONG upTo;
        {
            ScopedSrwLock hold(hash->m_lock);
            finishing = hash->m_finishing;
            ending = hash->m_ending;
            upTo = finishing ? hash->m_length : hash->m_arrived;
        }
        if (ending) break;
        // A report may come before the bytes it counts are all in the file: what is not
        // there yet is read at the next look.
        if (!hash->CatchUp(file, upTo) && finishing) hash->m_failed = true;
        if (finishing) {
            // A copy longer than the file installed is not the file's copy.
            LARGE_INTEGER size;
            if (!GetFileSizeEx(file, &size) || static_cast<ULONGLONG>(size.QuadPart) != upTo)
                hash->m_failed = true;
            break;
        }
        WaitForSingleObject(hash->m_more, kLookMs);
    }
    return 0;
}
