// The IBindStatusCallback handed to URLDownloadToFileA: hands the download's progress to
// its listener, aborts the download once the listener is stopping or the server stalls,
// asks for the rest of a file from a given byte on, and learns from the answer itself how
// it ended (status code, what the headers say, bytes counted). It lives on the stack of
// one download attempt: AddRef and Release count nothing and never free it.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <mutex>
#include <string>

#include "DownloadCheck.h"

// Who a download reports to: the update run, or a test.
class DownloadListener {
public:
    virtual bool IsStopping() const = 0;
    // progress: bytes of this answer's body so far; progressMax: what the download expects
    // of it, 0 when it does not know.
    virtual void SetProgress(DWORD progress, DWORD progressMax) = 0;

protected:
    ~DownloadListener() = default;
};

// Who wants a download's bytes as they arrive: told where the system writes them first (a
// file of its download cache, when it names one) and how many have come.
class ArrivalObserver {
public:
    virtual void CacheFile(const wchar_t* path) = 0;
    virtual void Arrived(ULONGLONG bytes) = 0;

protected:
    ~ArrivalObserver() = default;
};

class DownloadStatusCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    // What every download asks of the system: the server's answer, never a copy from the
    // cache (an error page, a cut or an older answer), none kept there, no proxy's copy
    // either, and no dialog.
    static constexpr DWORD kBindFlags =
        BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE | BINDF_NO_UI;

    DownloadStatusCallback() = default;
    virtual ~DownloadStatusCallback();
    DownloadStatusCallback(const DownloadStatusCallback&) = delete;
    DownloadStatusCallback& operator=(const DownloadStatusCallback&) = delete;

    void SetOwner(DownloadListener* owner) { m_pOwner = owner; }
    // Asks for the file from byte from on, and only if it is still the version validator
    // names ("Range: bytes=FROM-" and "If-Range"); the answer says whether it was heard.
    // False, asking for the whole file, when the headers would be longer than 511
    // characters.
    bool AskFrom(ULONGLONG from, const std::string& validator);
    // Asks for bytes first to last (kToTheEnd: to the end) of the file, with a validator
    // only if still its version ("If-Range"), without one of whatever version is there; or
    // (AskTail) for its last length bytes. False as for AskFrom.
    static constexpr ULONGLONG kToTheEnd = ~0ull;
    bool AskRange(ULONGLONG first, ULONGLONG last, const std::string& validator);
    bool AskTail(ULONGLONG length);
    // Aborts the download as soon as its answer is not a 206: the whole file coming in
    // place of the part asked for (a changed version, a server without ranges) is not
    // wanted. RefusedWhole says it happened.
    void OnlyPart() { m_bOnlyPart = true; }
    bool RefusedWhole() const { return m_bRefused; }
    // Aborts the download once its answer's body passes limit bytes (0: at its first byte;
    // none until this is called): a server that sends on and on never fills the disk.
    void SetLimit(ULONGLONG limit) { m_ullLimit = limit; }
    // Tells observer (null: nobody) where the bytes arrive and how many have come.
    void Observe(ArrivalObserver* observer) { m_pObserver = observer; }
    // The file the download writes to (its destination): its growth, and that of the cache
    // file the system names, count as the download moving (AbortIfStalled).
    void WatchFile(const char* path);

    // IHttpNegotiate (so that the download tells its answer's status and headers): S_OK
    // with *ppv set. Every other interface, IUnknown and IBindStatusCallback included:
    // E_NOTIMPL, ppv not written.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;   // 0
    STDMETHODIMP_(ULONG) Release() override;  // 0
    // Keeps the binding (with a reference) so that Abort can end the download; S_OK.
    STDMETHODIMP OnStartBinding(DWORD dwReserved, IBinding* pib) override;
    STDMETHODIMP GetPriority(LONG* pnPriority) override;  // E_NOTIMPL
    STDMETHODIMP OnLowResource(DWORD reserved) override;  // E_NOTIMPL
    // E_ABORT when the owner is stopping or the body passed its limit (nothing written);
    // otherwise hands the progress on and returns S_OK. Data reports also count the bytes
    // received.
    STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                            LPCWSTR szStatusText) override;
    // Lets the binding go; S_OK.
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
    // Adds kBindFlags to *grfBINDF and leaves *pbindinfo a plain GET (zeroed but its
    // cbSize); S_OK. E_INVALIDARG, nothing written, when either is null.
    STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;
    STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                 STGMEDIUM* pstgmed) override;             // E_NOTIMPL
    STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override;  // E_NOTIMPL

    // IHttpNegotiate: adds the headers of AskFrom, if any (S_OK; E_OUTOFMEMORY without
    // memory for them); records the final answer's status code and what its headers say
    // (S_OK).
    STDMETHODIMP BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                      LPWSTR* pszAdditionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                            LPCWSTR szRequestHeaders, LPWSTR* pszAdditionalRequestHeaders) override;

    // What the answer said: status 0 until one arrived.
    DWORD HttpStatus() const { return m_dwStatus; }
    const AnswerHeaders& Answer() const { return m_answer; }
    ULONGLONG ReceivedBytes() const { return m_ullReceived; }
    // The facts of the download that returned result and left a file of fileSize bytes at
    // its path (fileExists) as this callback heard it: received bytes as the reports counted
    // them, status 0 when no answer came, recordSize 0.
    DownloadFacts Facts(HRESULT result, bool fileExists, ULONGLONG fileSize) const;

    // Any thread: ends the running download (IBinding::Abort); nothing when no binding is
    // held. The download then returns E_ABORT.
    void Abort();
    // Any thread, called every few hundred milliseconds: Abort when for stallMs by now
    // nothing was heard and the files the download writes (WatchFile, the cache file) did
    // not grow since the call before; true when it aborted.
    bool AbortIfStalled(ULONGLONG now, ULONGLONG stallMs);
    bool Stalled() const { return m_bStalled; }

private:
    bool Ask(const std::string& text);
    void Touch() { m_ullLastActivity = GetTickCount64(); }

    DownloadListener* m_pOwner = nullptr;
    wchar_t m_request[512] = {};  // headers to add to the request
    std::mutex m_bindingLock;
    IBinding* m_pBinding = nullptr;  // referenced while held
    std::atomic<DWORD> m_dwStatus{0};
    AnswerHeaders m_answer;
    ULONGLONG m_ullReceived = 0;
    ULONGLONG m_ullLimit = ~0ull;
    ArrivalObserver* m_pObserver = nullptr;
    std::atomic<ULONGLONG> m_ullLastActivity{GetTickCount64()};
    std::atomic<bool> m_bStalled{false};
    bool m_bOnlyPart = false;
    std::atomic<bool> m_bRefused{false};
    std::mutex m_watchLock;  // over the two paths, set on the download's thread
    char m_target[MAX_PATH] = {};
    wchar_t m_cacheFile[MAX_PATH] = {};
    ULONGLONG m_ullWritten = 0;  // what the stall watcher last saw written
};
