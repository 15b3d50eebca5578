// The operator's words for why an archive comes whole; apart, so that Update.exe, which
// never shows them, does not carry them.
#include "EntryPlan.h"

const char* WholeBecauseText(WholeBecause why) {
    switch (why) {
        case WholeBecause::None:
            return "by entries";
        case WholeBecause::NoRanges:
            return "the server sends the whole file to a range";
        case WholeBecause::NoValidator:
            return "the server gives no strong ETag or Last-Modified";
        case WholeBecause::SizeDisagrees:
            return "the archive's size is not the record's or the manifest's";
        case WholeBecause::DirectoryDamaged:
            return "the archive's directory is damaged";
        case WholeBecause::TooMuch:
            return "too much of it differs";
        case WholeBecause::NotAnArchive:
            return "no archive";
        case WholeBecause::NoEntryHashes:
            return "the manifest lists no hashes of its entries";
        case WholeBecause::Changed:
            return "it changed on the server meanwhile";
        case WholeBecause::CutShort:
            return "a range came short twice";
        case WholeBecause::Damaged:
            return "a fetched entry did not check out";
        case WholeBecause::NoAnswer:
            return "no answer";
        case WholeBecause::TooSmall:
            return "smaller than 256 KiB: fetched whole at once";
    }
    return "";
}
