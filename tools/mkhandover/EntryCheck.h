// mkhandover --check, fetching by entries: for each listed archive, what a player holding
// an installation (the release before this one) would fetch of it, asked of the server as
// Update.exe asks it (AskByEntries, EntryFetch.h): the archive's directory from its tail,
// planned against the installation, no entry fetched.
#pragma once

#include <memory>
#include <string>

#include "HandOver.h"
#include "ItemFetch.h"
#include "PieceStore.h"
#include "ReleaseManifest.h"
#include "UpdateIo.h"

class EntryCheck {
public:
    // Asks through io, heard by listener (the check's run, whose progress lines it shows).
    // The tails arrive in scratch (a folder for the check alone, without a trailing
    // separator, made when missing) and stay there. installDir: the installation the entries
    // are compared with, never written to; null: an empty one (scratch's "empty" folder).
    // keyed: the check goes by a release key, and manifest (null: refused) is the release's:
    // the entries are then compared by the SHA-256 the manifest lists for them.
    EntryCheck(UpdateIo& io, FetchListener& listener, const std::string& scratch,
               const char* installDir, bool keyed, const ReleaseManifest* manifest);
    EntryCheck(const EntryCheck&) = delete;
    EntryCheck& operator=(const EntryCheck&) = delete;

    // The line over the answers: what they are judged against.
    std::string Heading() const;
    // What the run would do with item from the server at serverUrl, in a line: "by entries"
    // with the entries and the bytes it fetches against the archive's size, or "whole" and
    // why. "" when item is no archive (not named ".zip") or its paths do not fit.
    std::string Ask(const char* serverUrl, const UpdateItem& item);

private:
    UpdateIo& m_io;
    FetchListener& m_listener;
    std::string m_scratch;
    std::string m_installDir;
    bool m_bare;
    bool m_keyed;
    std::shared_ptr<const ReleaseManifest> m_manifest;
    PieceStore m_pieces;
    ActiveDownloads m_active;
};
