#include "EntryCheck.h"

#include <cstdio>
#include <cstring>

#include "EntryFetch.h"
#include "InstallPaths.h"

namespace {

std::string Counted(const EntryAnswer& a) {
    char text[160];
    std::snprintf(text, sizeof text, "%lu of %lu entries, %llu of %llu bytes",
                  static_cast<unsigned long>(a.toFetch), static_cast<unsigned long>(a.entries),
                  static_cast<unsigned long long>(a.tailBytes + a.fetchBytes),
                  static_cast<unsigned long long>(a.archiveBytes));
    return text;
}

}  // namespace

EntryCheck::EntryCheck(UpdateIo& io, FetchListener& listener, const std::string& scratch,
                       const char* installDir, bool keyed, const ReleaseManifest* manifest)
    : m_io(io),
      m_listener(listener),
      m_scratch(scratch),
      m_installDir(installDir != nullptr ? installDir : scratch + "\\empty"),
      m_bare(installDir == nullptr),
      m_keyed(keyed),
      m_pieces(io) {
    if (manifest != nullptr) m_manifest = std::make_shared<const ReleaseManifest>(*manifest);
    m_io.MakeFolder(m_scratch.c_str());
    if (m_bare) m_io.MakeFolder(m_installDir.c_str());
    // The tails go where a run's downloads go, but below the check's own folder: nothing is
    // written into the installation.
    if (m_pieces.SetFolder(m_scratch.c_str())) {
        char folder[kPathSize];
        if (m_pieces.PathOf("", folder)) m_io.MakeFolder(folder);
    }
}

std::string EntryCheck::Heading() const {
    if (m_bare) {
        return "fetching by entries, for a player with nothing installed (--install with the "
               "release before this one tells what its players fetch):";
    }
    return "fetching by entries, for a player holding " + m_installDir + ":";
}

std::string EntryCheck::Ask(const char* serverUrl, const UpdateItem& item) {
    if (!IsZipName(item.szName)) return std::string();
    if (m_keyed && !m_manifest) return "not asked: the release manifest is refused";
    ItemPaths paths, installed;
    if (!BuildItemPaths(m_scratch.c_str(), serverUrl, item.szName, paths) ||
        !BuildItemPaths(m_installDir.c_str(), serverUrl, item.szName, installed))
        return std::string();
    std::memcpy(paths.target, installed.target, sizeof paths.target);
    const FetchContext context{
        m_io, m_pieces, m_active, m_listener, m_keyed, m_manifest, true, m_installDir.c_str(), 1};
    const EntryAnswer a = AskByEntries(context, paths, item);
    if (a.why == WholeBecause::None) {
        return "by entries: " + Counted(a) + " (" +
               std::to_string(static_cast<unsigned long long>(a.tailBytes)) +
               " of them the tail with the directory)";
    }
    // With nothing installed every entry differs: past every question the server answers,
    // that is all that is left to say.
    if (a.why == WholeBecause::TooMuch && m_bare)
        return "whole: nothing installed yet; the server answers what fetching by entries needs";
    std::string line = std::string("whole: ") + WholeBecauseText(a.why);
    if (a.why == WholeBecause::TooMuch) line += " (" + Counted(a) + ")";
    return line;
}
