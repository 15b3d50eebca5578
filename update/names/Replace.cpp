#include "Replace.h"

namespace {

class SystemCalls : public ReplaceCalls {
public:
    bool Move(const char* from, const char* to) override {
        return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    DWORD Attributes(const char* path) override { return GetFileAttributesA(path); }
    bool SetAttributes(const char* path, DWORD attributes) override {
        return SetFileAttributesA(path, attributes) != FALSE;
    }
};

}  // namespace

bool ReplaceLiftingBits(ReplaceCalls& calls, const char* from, const char* to) {
    if (calls.Move(from, to)) return true;
    const DWORD old = calls.Attributes(to);
    if (old == INVALID_FILE_ATTRIBUTES || IsFolderAttributes(old) ||
        (old & kStandingInTheWay) == 0) {
        return false;
    }
    const DWORD eased = old & ~kStandingInTheWay;
    if (!calls.SetAttributes(to, eased != 0 ? eased : FILE_ATTRIBUTE_NORMAL)) return false;
    if (calls.Move(from, to)) return true;
    calls.SetAttributes(to, old);
    return false;
}

bool LiftReadOnly(ReplaceCalls& calls, const char* path) {
    const DWORD old = calls.Attributes(path);
    if (old == INVALID_FILE_ATTRIBUTES || (old & FILE_ATTRIBUTE_READONLY) == 0) return true;
    const DWORD eased = old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return calls.SetAttributes(path, eased != 0 ? eased : FILE_ATTRIBUTE_NORMAL);
}

ReplaceCalls& SystemReplaceCalls() {
    static SystemCalls calls;
    return calls;
}
