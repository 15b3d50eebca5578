// Stand-in for the engine's EntryFetch.h until it lands; removed then.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EntryPlan.h"
#include "ItemFetch.h"

struct EntryAnswer {
    WholeBecause why = WholeBecause::NoRanges;
    bool answered = false;
    uint64_t archiveBytes = 0;
    uint64_t tailBytes = 0;
    uint64_t fetchBytes = 0;
    size_t entries = 0, toFetch = 0;
};

inline EntryAnswer AskByEntries(const FetchContext&, const ItemPaths&, const UpdateItem&,
                                const char*) {
    return EntryAnswer();
}

inline const char* WholeBecauseText(WholeBecause) { return "not asked yet"; }
