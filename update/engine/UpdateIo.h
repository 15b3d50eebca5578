// What an update run does to the world outside it: the network, the files of the
// installation folder, the archives and the record of installed archives. The run decides;
// this carries out. SystemUpdateIo is the real one; tests give the run one of their own.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "DownloadCheck.h"
#include "HandOver.h"
#include "KeyInForce.h"
#include "Replace.h"
#include "Sha256.h"
#include "Zip.h"

// The record of installed archives, in the current folder.
extern const char kRecordFile[];  // "./UpdateClient.txt"

class DownloadStatusCallback;

// One open archive.
class UpdateArchive {
public:
    virtual ~UpdateArchive() = default;
    virtual int32_t Count() = 0;
    // As ZipGetEntry.
    virtual ZipResult Entry(int32_t index, ZipEntry* entry) = 0;
    // As ZipExtractEntry to the path target.
    virtual ZipResult Extract(int32_t index, const char* target) = 0;
    // As ZipIsPastDamage.
    virtual bool PastDamage(int32_t index) = 0;
    // Reads entry index whole through the layer's checks (inflation, CRC-32, length) and
    // gives the SHA-256 of its content. The layer's result: ZipOk, ZipCorrupt for damage,
    // another for a failure here (the archive unreadable, no memory). This one: ZipReadFailed.
    virtual ZipResult Digest(int32_t index, uint8_t (&sha256)[kSha256Bytes]) {
        (void)index;
        (void)sha256;
        return ZipReadFailed;
    }
};

// What tells the file at a path from any other put there, and from itself written again:
// its index on its volume (a file put in place by a rename has another), its size and its
// last write time. It is only ever compared for one path, so the volume is left out: asking
// for it costs more than reading a small file on some systems.
struct FileIdentity {
    DWORD indexHigh = 0, indexLow = 0;
    DWORD sizeHigh = 0, sizeLow = 0;
    FILETIME written = {};
};
bool operator==(const FileIdentity& a, const FileIdentity& b);

// Move, Attributes and SetAttributes (ReplaceCalls) act on the installation folder's files.
class UpdateIo : public ReplaceCalls {
public:
    virtual ~UpdateIo() = default;
    // Downloads url to path reporting to callback; the facts the verdict rests on, status and
    // headers those of the answer the callback heard (0 and none when no answer came).
    virtual DownloadFacts Download(const char* url, const char* path,
                                   DownloadStatusCallback& callback) = 0;
    // Waits ms, or less when stop becomes signalled (a null stop: the whole time).
    virtual void Pause(DWORD ms, HANDLE stop) = 0;
    // The size of the file at path; false when there is none (or a folder).
    virtual bool FileSize(const char* path, ULONGLONG* size) = 0;
    // Appends the first length bytes of from to the end of to. False when not all of them
    // could be appended; to is then cut back to what it held.
    virtual bool Append(const char* from, ULONGLONG length, const char* to) = 0;
    // Cuts the file at path to its first length bytes; false when it could not.
    virtual bool Cut(const char* path, ULONGLONG length) = 0;
    // The size and SHA-256 of the file at path; false when it cannot be read whole.
    virtual bool HashFile(const char* path, ULONGLONG* size, uint8_t (&digest)[kSha256Bytes]) = 0;
    // The clock, UTC, as a FILETIME's value.
    virtual ULONGLONG UtcNow() = 0;
    // A small text file whole; false when it cannot be read.
    virtual bool ReadText(const char* path, std::string* text) = 0;
    // Writes text as the whole of the file at path; false when it was not written whole.
    virtual bool WriteText(const char* path, const std::string& text) = 0;
    // Makes folder when it is missing; the result is not looked at (a download into a
    // missing folder fails and is tried again).
    virtual void MakeFolder(const char* folder) = 0;
    // Sets all three times of the file at path to stamp; nothing when it cannot be opened.
    virtual void StampTimes(const char* path, const FILETIME& stamp) = 0;
    virtual void Delete(const char* path) = 0;
    // The names of the plain files in folder (ending in a separator) that match pattern
    // ("*" for any run of characters); none when the folder cannot be read.
    virtual std::vector<std::string> FilesLike(const char* folder, const char* pattern) = 0;
    // Writes the archive's section of "UpdateClient.txt"; false when a value was not written.
    virtual bool WriteRecord(const UpdateItem& item) = 0;
    // Opens an archive whose folder entries go below baseFolder; null with *why set to the zip
    // layer's result when it cannot.
    virtual std::unique_ptr<UpdateArchive> OpenArchive(const char* path, const char* baseFolder,
                                                       ZipResult* why) = 0;
    // Whether the run may not write path: the file there refuses to be opened for writing,
    // or its folder refuses a new file, for want of access (an installation where the player
    // may not write, such as under Program Files), as opposed to a file another program
    // holds. A read-only file is judged by its folder alone: the run lifts the bit.
    virtual bool MayNotWrite(const char* path) = 0;
    // What the installation in installDir holds of its release key (KeyInForce.h): its
    // UpdateConfig.txt, whatever the current folder, and what is pinned for it.
    virtual InstalledKey ReadInstalledKey(const char* installDir) = 0;
    // As PinRelease and ForgetPinnedRelease (RunCompletion.h).
    virtual bool PinRelease(const PublicKey& key, DWORD serial) = 0;
    virtual void ForgetPinnedRelease() = 0;

    // For fetching archives by entries (EntryFetch.h); these answer false here, which sends
    // every archive whole.
    // One read of the file at path for its size and, each when not null, CRC-32, SHA-256 and
    // the identity of the file read; false when it cannot be read whole (none there, a
    // folder, held by another program).
    virtual bool DigestFile(const char* path, ULONGLONG* size, uint32_t* crc32, uint8_t* sha256,
                            FileIdentity* identity = nullptr) {
        (void)path, (void)size, (void)crc32, (void)sha256, (void)identity;
        return false;
    }
    // Gives the file at path attributes (none: FILE_ATTRIBUTE_NORMAL) and, unless stamp is
    // zero, all three times, when it is still the very file identity names; false, nothing
    // changed, when it is another or cannot be opened.
    virtual bool SettleFile(const char* path, const FileIdentity& identity, DWORD attributes,
                            const FILETIME& stamp) {
        (void)path, (void)identity, (void)attributes, (void)stamp;
        return false;
    }
    // The length bytes of the file at path from offset on; false when not all could be read.
    virtual bool ReadPart(const char* path, ULONGLONG offset, size_t length, std::string* bytes) {
        (void)path, (void)offset, (void)length, (void)bytes;
        return false;
    }
    // Writes the first length bytes of from into to at offset; to is made when missing and
    // grows as needed, what lies between reading as zeros. False when not all were written.
    virtual bool Place(const char* from, ULONGLONG length, const char* to, ULONGLONG offset) {
        (void)from, (void)length, (void)to, (void)offset;
        return false;
    }
};

// Copies length bytes from in to out, each at its position; false when not all were.
bool CopyBytes(HANDLE in, HANDLE out, ULONGLONG length);

// Reads entry index of zip as UpdateArchive::Digest does.
ZipResult DigestEntry(ZipHandle* zip, int32_t index, uint8_t (&sha256)[kSha256Bytes]);

// Why the file at path was not written or put in place: a folder standing there, access the
// run does not have, or otherwise (held by another program, a full disk).
WaitReason WhyNotWritten(UpdateIo& io, const char* path, WaitReason otherwise);

// The real world: URLDownloadToFileA, Win32 files, the zip layer, "./UpdateClient.txt". A
// download that did not come whole leaves no entry in the system's cache under its URL.
class SystemUpdateIo : public UpdateIo {
public:
    DownloadFacts Download(const char* url, const char* path,
                           DownloadStatusCallback& callback) override;
    void Pause(DWORD ms, HANDLE stop) override;
    bool FileSize(const char* path, ULONGLONG* size) override;
    bool Append(const char* from, ULONGLONG length, const char* to) override;
    bool Cut(const char* path, ULONGLONG length) override;
    bool HashFile(const char* path, ULONGLONG* size, uint8_t (&digest)[kSha256Bytes]) override;
    ULONGLONG UtcNow() override;
    bool ReadText(const char* path, std::string* text) override;
    bool WriteText(const char* path, const std::string& text) override;
    void MakeFolder(const char* folder) override;
    void StampTimes(const char* path, const FILETIME& stamp) override;
    bool Move(const char* from, const char* to) override;
    DWORD Attributes(const char* path) override;
    bool SetAttributes(const char* path, DWORD attributes) override;
    void Delete(const char* path) override;
    std::vector<std::string> FilesLike(const char* folder, const char* pattern) override;
    bool WriteRecord(const UpdateItem& item) override;
    std::unique_ptr<UpdateArchive> OpenArchive(const char* path, const char* baseFolder,
                                               ZipResult* why) override;
    bool MayNotWrite(const char* path) override;
    InstalledKey ReadInstalledKey(const char* installDir) override;
    bool PinRelease(const PublicKey& key, DWORD serial) override;
    void ForgetPinnedRelease() override;
    bool DigestFile(const char* path, ULONGLONG* size, uint32_t* crc32, uint8_t* sha256,
                    FileIdentity* identity = nullptr) override;
    bool SettleFile(const char* path, const FileIdentity& identity, DWORD attributes,
                    const FILETIME& stamp) override;
    bool ReadPart(const char* path, ULONGLONG offset, size_t length, std::string* bytes) override;
    bool Place(const char* from, ULONGLONG length, const char* to, ULONGLONG offset) override;
};
