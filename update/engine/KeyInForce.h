// Which release key a run goes by. An installation holds its key in two places: the
// "ReleaseKey" line of UpdateConfig.txt in the installation folder (put there by the
// installer, or by a release, which is how the operator rotates to a new key), and the key
// pinned under HKEY_CURRENT_USER beside the versions as soon as a manifest signed with it
// is accepted, where no release writes. The pin is what keeps signing on when the
// configuration no longer names a key: an old configuration shipped by a release, a line
// removed, a value that is no key. Signing ends only by the operator's own act: a release
// whose UpdateConfig.txt says "ReleaseKey=none".
#pragma once

#include <windows.h>

#include "ReleaseKey.h"
#include "StatusLine.h"

// What an installation holds of its key and its releases.
struct InstalledKey {
    ConfiguredKey config = ConfiguredKey::NoKey;  // what installDir\UpdateConfig.txt says
    PublicKey configKey{};                        // when config is Key
    bool pinned = false;                          // a key is pinned...
    bool pinReadable = true;                      // ... and reads as one (false: damaged)
    PublicKey pinnedKey{};
    bool acceptedBefore = false;  // a release serial is stored: a signed release was taken
    DWORD highestSerial = 0;      // that serial (0: none)
};

enum class KeyUse {
    Unsigned,     // no key: releases are taken as served
    Signed,       // only what key signed is taken
    SigningEnds,  // the operator turned signing off: unsigned, and the pin and serial go
    Wait,         // nothing may be taken: no key can be read, though one is held
};

struct KeyChoice {
    KeyUse use = KeyUse::Unsigned;
    PublicKey key{};                   // for Signed
    WaitReason why = WaitReason::None;  // for Wait
};

// The rule, first that applies:
// - the configuration names a valid key: that key (the installer's, or one a signed release
//   rotated to);
// - it says "none": signing ends;
// - it cannot be read: wait (KeyUnreadable), since it may name a key;
// - a key is pinned and reads as one: the pinned key;
// - it names something that is no key: wait (KeyInvalid), as a key was meant;
// - a pin that is damaged, or a serial stored without a pin: wait (KeyMissing), as this
//   installation took signed releases;
// - otherwise: unsigned.
KeyChoice ChooseKey(const InstalledKey& installed);
