#include "DownloadStatusCallback.h"

#include <cstring>
#include <cwchar>
#include <string>

DownloadStatusCallback::~DownloadStatusCallback() { OnStopBinding(S_OK, nullptr); }

STDMETHODIMP DownloadStatusCallback::QueryInterface(REFIID riid, void** ppv) {
    // The download asks its callback for the negotiation interface; it is the one way to
    // hear the final answer's status, which Wine's download otherwise hides behind S_OK.
    if (ppv != nullptr && IsEqualIID(riid, IID_IHttpNegotiate)) {
        *ppv = static_cast<IHttpNegotiate*>(this);
        return S_OK;
    }
    return E_NOTIMPL;
}
STDMETHODIMP_(ULONG) DownloadStatusCallback::AddRef() { return 0; }
STDMETHODIMP_(ULONG) DownloadStatusCallback::Release() { return 0; }

STDMETHODIMP DownloadStatusCallback::OnStartBinding(DWORD, IBinding* pib) {
    Touch();
    if (pib == nullptr) return S_OK;
    std::lock_guard<std::mutex> hold(m_bindingLock);
    if (m_pBinding != nullptr) m_pBinding->Release();
    pib->AddRef();
    m_pBinding = pib;
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

STDMETHODIMP DownloadStatusCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax,
                                                ULONG ulStatusCode, LPCWSTR szStatusText) {
    // What arrived counts even when it comes after the stop: it is on its way to the disk,
    // and a piece kept is what was counted.
    if (ulStatusCode == BINDSTATUS_BEGINDOWNLOADDATA ||
        ulStatusCode == BINDSTATUS_DOWNLOADINGDATA || ulStatusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        m_ullReceived = ulProgress;
        if (m_pObserver != nullptr) m_pObserver->Arrived(m_ullReceived);
    } else if (ulStatusCode == BINDSTATUS_CACHEFILENAMEAVAILABLE && szStatusText != nullptr) {
        {
            std::lock_guard<std::mutex> hold(m_watchLock);
            lstrcpynW(m_cacheFile, szStatusText, MAX_PATH);
        }
        if (m_pObserver != nullptr) m_pObserver->CacheFile(szStatusText);
    }
    if (m_pOwner->IsStopping() || m_bRefused) return E_ABORT;
    if (m_ullReceived > m_ullLimit) {
        Abort();
        return E_ABORT;
    }
    Touch();
    m_pOwner->SetProgress(ulProgress, ulProgressMax);
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR) {
    IBinding* binding = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_bindingLock);
        binding = m_pBinding;
        m_pBinding = nullptr;
    }
    if (binding != nullptr) binding->Release();
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) {
    if (grfBINDF == nullptr || pbindinfo == nullptr) return E_INVALIDARG;
    // Windows honours these flags. Wine's download keeps only its own: it never reads the
    // cache for HTTP and always writes an entry, which the run never reads.
    *grfBINDF |= kBindFlags;
    const ULONG size = pbindinfo->cbSize;
    std::memset(pbindinfo, 0, size);
    pbindinfo->cbSize = size;
    pbindinfo->dwBindVerb = BINDVERB_GET;
    return S_OK;
}
STDMETHODIMP DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

DownloadFacts DownloadStatusCallback::Facts(HRESULT result, bool fileExists,
                                            ULONGLONG fileSize) const {
    DownloadFacts facts;
    static_cast<AnswerHeaders&>(facts) = m_answer;
    facts.result = result;
    facts.fileExists = fileExists;
    facts.fileSize = fileSize;
    facts.httpStatus = m_dwStatus;
    // Never the file's size: a copy to the disk that failed leaves fewer bytes than arrived.
    facts.receivedBytes = m_ullReceived;
    facts.stalled = m_bStalled;
    return facts;
}

namespace {

// Built by hand: wide strings and wide printf would add a tenth to the program's size.
void AddNumber(std::string& text, ULONGLONG number) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) text += digits[--count];
}

}  // namespace

bool DownloadStatusCallback::Ask(const std::string& text) {
    m_request[0] = L'\0';
    if (text.size() >= sizeof m_request / sizeof m_request[0]) return false;
    for (size_t i = 0; i <= text.size(); ++i) m_request[i] = static_cast<unsigned char>(text[i]);
    return true;
}

bool DownloadStatusCallback::AskFrom(ULONGLONG from, const std::string& validator) {
    return AskRange(from, kToTheEnd, validator);
}

bool DownloadStatusCallback::AskRange(ULONGLONG first, ULONGLONG last,
                                      const std::string& validator) {
    std::string text = "Range: bytes=";
    AddNumber(text, first);
    text += '-';
    if (last != kToTheEnd) AddNumber(text, last);
    text += "\r\n";
    if (!validator.empty()) text += "If-Range: " + validator + "\r\n";
    return Ask(text);
}

bool DownloadStatusCallback::AskTail(ULONGLONG length) {
    std::string text = "Range: bytes=-";
    AddNumber(text, length);
    return Ask(text + "\r\n");
}

STDMETHODIMP DownloadStatusCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                          LPWSTR* pszAdditionalHeaders) {
    if (pszAdditionalHeaders == nullptr) return S_OK;
    *pszAdditionalHeaders = nullptr;
    if (m_request[0] == L'\0') return S_OK;
    // The download frees the headers with CoTaskMemFree.
    const size_t bytes = (wcslen(m_request) + 1) * sizeof(wchar_t);
    auto* headers = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (headers == nullptr) return E_OUTOFMEMORY;
    std::memcpy(headers, m_request, bytes);
    *pszAdditionalHeaders = headers;
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                                                LPCWSTR, LPWSTR* pszAdditionalRequestHeaders) {
    if (pszAdditionalRequestHeaders != nullptr) *pszAdditionalRequestHeaders = nullptr;
    Touch();
    // Redirects are followed below this call: the code is the final answer's.
    m_dwStatus = dwResponseCode;
    m_answer = ParseAnswerHeaders(szResponseHeaders);
    // The whole file instead of the part asked for: its bytes are not wanted.
    if (m_bOnlyPart && dwResponseCode != 206) {
        m_bRefused = true;
        Abort();
    }
    return S_OK;
}

void DownloadStatusCallback::Abort() {
    IBinding* binding = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_bindingLock);
        binding = m_pBinding;
        if (binding != nullptr) binding->AddRef();
    }
    // Outside the lock: the abort may report the end of the binding on this very thread.
    if (binding != nullptr) {
        binding->Abort();
        binding->Release();
    }
}

void DownloadStatusCallback::WatchFile(const char* path) {
    std::lock_guard<std::mutex> hold(m_watchLock);
    lstrcpynA(m_target, path, MAX_PATH);
}

namespace {

template <class Attributes>
ULONGLONG SizeOf(BOOL (WINAPI* get)(const Attributes*, GET_FILEEX_INFO_LEVELS, LPVOID),
                 const Attributes* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path[0] == 0 || !get(path, GetFileExInfoStandard, &data)) return 0;
    return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

}  // namespace

bool DownloadStatusCallback::AbortIfStalled(ULONGLONG now, ULONGLONG stallMs) {
    // A fast answer may pour in with no report at all until it is whole (Wine reports none
    // at loopback speed): what is written to the disk counts as much as what is reported.
    ULONGLONG written = 0;
    {
        std::lock_guard<std::mutex> hold(m_watchLock);
        written = SizeOf(&GetFileAttributesExA, m_target) +
                  SizeOf(&GetFileAttributesExW, m_cacheFile);
    }
    if (written > m_ullWritten) {
        m_ullWritten = written;
        m_ullLastActivity = now;
        return false;
    }
    m_ullWritten = written;
    const ULONGLONG last = m_ullLastActivity;
    if (now < last || now - last < stallMs) return false;
    m_bStalled = true;
    Abort();
    // A download that has not bound yet cannot be aborted; the next look tries again, and
    // the clock starts over so that it does not try at every look.
    m_ullLastActivity = now;
    return true;
}
