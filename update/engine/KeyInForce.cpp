#include "KeyInForce.h"

KeyChoice ChooseKey(const InstalledKey& installed) {
    KeyChoice choice;
    switch (installed.config) {
        case ConfiguredKey::Key:
            choice.use = KeyUse::Signed;
            choice.key = installed.configKey;
            return choice;
        case ConfiguredKey::Off:
            choice.use = KeyUse::SigningEnds;
            return choice;
        case ConfiguredKey::Unreadable:
            choice.use = KeyUse::Wait;
            choice.why = WaitReason::KeyUnreadable;
            return choice;
        case ConfiguredKey::NoKey:
        case ConfiguredKey::NotAKey:
            break;
    }
    if (installed.pinned && installed.pinReadable) {
        choice.use = KeyUse::Signed;
        choice.key = installed.pinnedKey;
    } else if (installed.config == ConfiguredKey::NotAKey) {
        choice.use = KeyUse::Wait;
        choice.why = WaitReason::KeyInvalid;
    } else if (installed.pinned || installed.acceptedBefore) {
        choice.use = KeyUse::Wait;
        choice.why = WaitReason::KeyMissing;
    }
    return choice;
}
