// The pieces of cut downloads a run keeps in DownLoad\ and their index
// (DownloadPiece.h), shared by every download of the run: the item in turn and those
// fetched ahead of it. Every call is safe from any thread; a piece is named by its file and
// handed out by value, and every change is written to the index before the call returns.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "DownloadPiece.h"
#include "InstallPaths.h"
#include "UpdateIo.h"

// Says which pieces a run keeps.
class PieceFilter {
public:
    virtual bool Keeps(const PieceRecord& record) const = 0;

protected:
    ~PieceFilter() = default;
};

class PieceStore {
public:
    explicit PieceStore(UpdateIo& io) : m_io(io) {}
    PieceStore(const PieceStore&) = delete;
    PieceStore& operator=(const PieceStore&) = delete;

    // DownLoad\ below installDir; false (and no folder: every path fails) when it does not
    // fit a path.
    bool SetFolder(const char* installDir);
    // The path of file in DownLoad\; false when it does not fit.
    bool PathOf(const std::string& file, char (&out)[kPathSize]) const;

    // Reads the index an earlier run left: keeps each piece belongs says is of this run's
    // list and whose file holds what the index says; deletes every other file of ours in
    // DownLoad\ (pieces no longer listed or not as listed, lines the index refused, a download
    // a killed run left arriving, whatever an index that could not be read listed), so pieces
    // never pile up; writes the index back.
    void Load(const PieceFilter& belongs);

    // The piece kept for item fetched from url, claimed for one download until Release (a
    // piece serves one download at a time: two joining rests to one file would each install
    // bytes the other appended); false when there is none, or another download holds it.
    bool Claim(const UpdateItem& item, const char* url, PieceRecord* out);
    // A piece file name that no kept piece and no download in flight uses, reserved for one
    // download until Keep or Release.
    std::string Reserve();
    // Ends a reservation or a claim.
    void Release(const std::string& file);
    // Lists record, whose file was reserved, as a kept piece.
    void Keep(const PieceRecord& record);
    // The piece in file now holds length bytes.
    void Grow(const std::string& file, ULONGLONG length);
    // Forgets the piece in file, whose file went elsewhere; Drop also deletes its file.
    void Forget(const std::string& file);
    void Drop(const std::string& file);
    // Drops every piece for which keep is false.
    void DropUnless(const PieceFilter& keep);

private:
    // With m_lock held.
    void Save();
    void Erase(const std::string& file, bool deleteFile);

    UpdateIo& m_io;
    char m_folder[kPathSize] = "";
    mutable std::mutex m_lock;
    std::vector<PieceRecord> m_pieces;
    std::vector<std::string> m_reserved;
};
