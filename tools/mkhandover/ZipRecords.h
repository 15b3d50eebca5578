// Why the zip layer refused an archive's record, read from the central directory itself:
// the layer answers one "damaged" for every refusal, the operator needs to know which.
#pragma once

#include <cstdint>
#include <string>

// The reason the central record index of the archive at path cannot be read by the
// updater: "unknown compression method N", "encrypted", "name of N bytes (at most 259)",
// "size beyond 4 GiB", or "damaged record" when the directory itself cannot be walked to
// it or none of those applies.
std::string DescribeRefusedRecord(const char* path, int32_t index);
