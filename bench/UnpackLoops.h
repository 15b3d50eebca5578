// The loops the figures time against each other: ours through the zip layer, and the bare
// minizip loops they are measured against.
#pragma once

#include <cstdint>
#include <string>

#include "Zip.h"

// An archive opened by the zip layer, closed with ZipClose.
class ZipOwner {
public:
    explicit ZipOwner(ZipHandle* handle) : m_handle(handle) {}
    ~ZipOwner() {
        if (m_handle != nullptr) ZipClose(m_handle);
    }
    ZipOwner(const ZipOwner&) = delete;
    ZipOwner& operator=(const ZipOwner&) = delete;
    operator ZipHandle*() const { return m_handle; }

private:
    ZipHandle* m_handle;
};

// Every entry of archive to a file under dir (its folders already made) by the layer, as the
// update step unpacks; with record, each file written is recorded as touched. False when
// the archive cannot be read, an entry cannot be written or the budget ran out.
bool UnpackOurs(const char* archive, const std::string& dir, bool record);

// How the bare loop puts an entry where it belongs: rewritten in place (a killed run leaves
// the target half-written), or written to a new file beside the target and renamed over it
// (the target old or new at every moment: what the layer promises, done the simplest way).
enum class BareWrite { InPlace, ThroughNewFile };

// Every file entry of archive to a file under dir (its folders already made) by minizip's
// read loop in the layer's own portions. False as UnpackOurs, or when a CRC differs.
bool UnpackBare(const char* archive, const std::string& dir, BareWrite how = BareWrite::InPlace);

// What a walk of ours read from its archive: bytes and ReadFile calls.
struct WalkReads {
    uint64_t bytes = 0;
    uint64_t calls = 0;
};

// Every entry of archive looked up and extracted into memory in index order by the layer;
// reads is set when the walk is whole. False when any step fails or the budget ran out.
bool WalkOurs(const char* archive, WalkReads& reads);

// The same walk by minizip's read loop, which does not stop at the budget. False when any
// step fails.
bool WalkBare(const char* archive);
