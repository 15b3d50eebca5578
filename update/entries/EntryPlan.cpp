#include "EntryPlan.h"

#include <algorithm>
#include <cstring>

bool IsEntryInPlace(const DirectoryEntry& entry, const InstalledFile& installed,
                    const uint8_t* signedSha256) {
    if (entry.folder) return true;
    if (!installed.exists || installed.size != entry.size) return false;
    if (signedSha256 == nullptr) return installed.crc32 == entry.crc32;
    return installed.hashed &&
           std::memcmp(installed.sha256, signedSha256, sizeof installed.sha256) == 0;
}

EntryPlan PlanRanges(const std::vector<DirectoryEntry>& entries, const std::vector<bool>& fetch,
                     uint64_t directoryOffset) {
    EntryPlan plan;
    // A record ends where the next one in the file starts, whatever order the directory
    // lists them in.
    std::vector<size_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return entries[a].localOffset < entries[b].localOffset;
    });
    for (size_t k = 0; k < order.size(); ++k) {
        const uint64_t start = entries[order[k]].localOffset;
        const uint64_t end =
            k + 1 < order.size() ? entries[order[k + 1]].localOffset : directoryOffset;
        // A local header is 30 bytes and the name before the data.
        const DirectoryEntry& e = entries[order[k]];
        if (start >= end || start >= directoryOffset ||
            end - start < 30 + e.name.size() + e.compressedSize) {
            plan.whole = WholeBecause::DirectoryDamaged;
            return plan;
        }
        if (order[k] >= fetch.size() || !fetch[order[k]]) continue;
        plan.fetch.push_back(order[k]);
        if (!plan.ranges.empty() && start - plan.ranges.back().last - 1 <= kMergeGap) {
            plan.bytes += end - 1 - plan.ranges.back().last;
            plan.ranges.back().last = end - 1;
        } else {
            plan.ranges.push_back({start, end - 1});
            plan.bytes += end - start;
        }
    }
    return plan;
}

WholeBecause WhetherEntriesPay(unsigned httpStatus, bool haveValidator, uint64_t archiveLength,
                               uint64_t recordSize, const uint64_t* manifestSize,
                               const EntryPlan& plan) {
    if (httpStatus != 206) return WholeBecause::NoRanges;
    if (!haveValidator) return WholeBecause::NoValidator;
    if (archiveLength != recordSize || (manifestSize != nullptr && *manifestSize != archiveLength))
        return WholeBecause::SizeDisagrees;
    if (plan.whole != WholeBecause::None) return plan.whole;
    if (plan.bytes > archiveLength / 100 * kPaysPercent) return WholeBecause::TooMuch;
    return WholeBecause::None;
}

uint64_t TailToAsk(uint64_t listedSize) {
    if (listedSize == 0) return kFirstTailBytes;
    if (listedSize < kEntriesFrom) return 0;
    return std::min<uint64_t>(kFirstTailBytes, std::max<uint64_t>(16 * 1024, listedSize / 64));
}
