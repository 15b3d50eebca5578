// Telling a whole download from what URLDownloadToFileA only calls one. Under Wine it
// returns S_OK for an HTTP error page (the page is stored as the file) and for a connection
// the server closed before the length it announced; neither may ever be installed.
#pragma once

#include <windows.h>

// Drops the system's cached copies of url (as given and with "/" for "\", the form Wine
// files it under), so that the next download comes from the server and its cache entry
// describes that download.
void ForgetCachedCopy(const char* url);

// The HTTP status of the response the cache holds for url (as given or with "/" for "\"),
// or 0 when there is no entry or its headers have no status line.
DWORD CachedHttpStatus(const char* url);

// The status code of a raw response header block ("HTTP/1.1 503 Service Unavailable\r\n..."),
// or 0 when it does not start with a status line.
DWORD ParseHttpStatus(const char* headers, size_t length);

// True when the file at path holds exactly the announced number of bytes, or when no length
// was announced (0). False when the file is shorter or longer, or cannot be examined.
bool HasAnnouncedLength(const char* path, DWORD announced);

// The verdict on a download URLDownloadToFileA reported as S_OK: the length matches the
// announced one and the response, when the cache tells it, was a 2xx.
bool IsWholeDownload(const char* url, const char* path, DWORD announced);
