// A file no other account of the machine may read: the release key's file (Release.h).
#pragma once

#include <windows.h>

#include "Scoped.h"

enum class PrivateFile {
    Created,     // file holds it, open for writing, empty
    Exists,      // something of that name is there; nothing was touched
    NotCreated,  // it cannot be created (no such folder, denied, ...)
    NotPrivate,  // the current user cannot be named, or the file's permissions read back
                 // let another account read it (a file system without permissions, as
                 // FAT); the file was deleted again
};

// Creates path, never over an existing file, owned by the current user with a protected
// access list of one entry: that user, full access. Created only when the access list read
// back from the new file lets no account but that user (and the system, which reads every
// file) read it.
PrivateFile CreatePrivateFile(const char* path, ScopedHandle& file);
