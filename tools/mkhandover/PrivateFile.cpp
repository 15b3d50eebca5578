#include "PrivateFile.h"

#include <vector>

namespace {

// TOKEN_USER of this process into buffer; its SID, or null when the token cannot be read.
PSID CurrentUser(std::vector<BYTE>& buffer) {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return nullptr;
    ScopedHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return nullptr;
    return reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
}

// A call can report success and still leave other permissions (a file system that keeps
// none, a layer that maps them onto its own bits), so the file's own list is what counts.
bool OnlyUserReads(HANDLE file, PSID user) {
    DWORD size = 0;
    GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (size == 0 ||
        !GetKernelObjectSecurity(file, DACL_SECURITY_INFORMATION, descriptor.data(), size,
                                 &size) ||
        !GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted))
        return false;
    if (!present || dacl == nullptr) return false;  // no list: everyone may
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return false;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE || (ace->AceFlags & INHERIT_ONLY_ACE))
            continue;
        // Conditional and object entries are not read here: taken as granting.
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
        auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        const PSID sid = &allowed->SidStart;
        if ((allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0 &&
            !EqualSid(sid, user) && !IsWellKnownSid(sid, WinLocalSystemSid))
            return false;
    }
    return true;
}

}  // namespace

PrivateFile CreatePrivateFile(const char* path, ScopedHandle& file) {
    std::vector<BYTE> userBuffer;
    const PSID user = CurrentUser(userBuffer);
    if (user == nullptr) return PrivateFile::NotPrivate;
    std::vector<BYTE> aclBuffer(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
    const PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
    SECURITY_DESCRIPTOR descriptor;
    // Protected: nothing inherited from the folder widens it. Given at creation, so that the
    // file never exists with the folder's permissions, not even empty.
    if (!InitializeAcl(acl, static_cast<DWORD>(aclBuffer.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, user) ||
        !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor, user, FALSE) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return PrivateFile::NotPrivate;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    file.Reset(CreateFileA(path, GENERIC_WRITE | READ_CONTROL, 0, &attributes, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? PrivateFile::Exists
                   : PrivateFile::NotCreated;
    }
    if (OnlyUserReads(file, user)) return PrivateFile::Created;
    file.Reset();
    DeleteFileA(path);
    return PrivateFile::NotPrivate;
}
