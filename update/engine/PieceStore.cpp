#include "PieceStore.h"

#include <algorithm>

bool PieceStore::SetFolder(const char* installDir) {
    if (JoinPath(m_folder, {installDir, "\\DownLoad\\"})) return true;
    m_folder[0] = '\0';
    return false;
}

bool PieceStore::PathOf(const std::string& file, char (&out)[kPathSize]) const {
    return m_folder[0] != '\0' && JoinPath(out, {m_folder, file.c_str()});
}

void PieceStore::Load(const PieceFilter& belongs) {
    std::lock_guard<std::mutex> hold(m_lock);
    char index[kPathSize];
    if (!PathOf(kPieceIndexName, index)) return;
    std::string text;
    m_io.ReadText(index, &text);
    for (const PieceRecord& record : ParsePieceIndex(text)) {
        char piece[kPathSize];
        ULONGLONG size = 0;
        if (belongs.Keeps(record) && PathOf(record.file, piece) && m_io.FileSize(piece, &size) &&
            size == record.piece.length)
            m_pieces.push_back(record);
    }
    for (const std::string& file : m_io.FilesLike(m_folder, kUpdaterFilePattern)) {
        if (file == kPieceIndexName) continue;
        if (std::none_of(m_pieces.begin(), m_pieces.end(),
                         [&](const PieceRecord& r) { return r.file == file; })) {
            char path[kPathSize];
            if (PathOf(file, path)) m_io.Delete(path);
        }
    }
    Save();
}

bool PieceStore::Claim(const UpdateItem& item, const char* url, PieceRecord* out) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (const PieceRecord& record : m_pieces) {
        if (!PieceBelongs(record, item, url)) continue;
        if (std::find(m_reserved.begin(), m_reserved.end(), record.file) != m_reserved.end())
            return false;
        m_reserved.push_back(record.file);
        *out = record;
        return true;
    }
    return false;
}

std::string PieceStore::Reserve() {
    std::lock_guard<std::mutex> hold(m_lock);
    for (unsigned number = 0;; ++number) {
        std::string file = PieceFileName(number);
        if (std::none_of(m_pieces.begin(), m_pieces.end(),
                         [&](const PieceRecord& r) { return r.file == file; }) &&
            std::find(m_reserved.begin(), m_reserved.end(), file) == m_reserved.end()) {
            m_reserved.push_back(file);
            return file;
        }
    }
}

void PieceStore::Release(const std::string& file) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_reserved.erase(std::remove(m_reserved.begin(), m_reserved.end(), file), m_reserved.end());
}

void PieceStore::Keep(const PieceRecord& record) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_reserved.erase(std::remove(m_reserved.begin(), m_reserved.end(), record.file),
                     m_reserved.end());
    m_pieces.push_back(record);
    Save();
}

void PieceStore::Grow(const std::string& file, ULONGLONG length) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (PieceRecord& record : m_pieces) {
        if (record.file == file) record.piece.length = length;
    }
    Save();
}

void PieceStore::Forget(const std::string& file) {
    std::lock_guard<std::mutex> hold(m_lock);
    Erase(file, false);
    Save();
}

void PieceStore::Drop(const std::string& file) {
    std::lock_guard<std::mutex> hold(m_lock);
    Erase(file, true);
    Save();
}

void PieceStore::DropUnless(const PieceFilter& keep) {
    std::lock_guard<std::mutex> hold(m_lock);
    std::vector<std::string> gone;
    for (const PieceRecord& record : m_pieces) {
        if (!keep.Keeps(record)) gone.push_back(record.file);
    }
    for (const std::string& file : gone) Erase(file, true);
    Save();
}

void PieceStore::Erase(const std::string& file, bool deleteFile) {
    char path[kPathSize];
    if (deleteFile && PathOf(file, path)) m_io.Delete(path);
    m_pieces.erase(std::remove_if(m_pieces.begin(), m_pieces.end(),
                                  [&](const PieceRecord& r) { return r.file == file; }),
                   m_pieces.end());
}

void PieceStore::Save() {
    char index[kPathSize];
    if (!PathOf(kPieceIndexName, index)) return;
    if (m_pieces.empty()) {
        m_io.Delete(index);
    } else {
        m_io.WriteText(index, FormatPieceIndex(m_pieces));
    }
}
