// The IBindStatusCallback handed to URLDownloadToFileA: copies the download's progress into
// the run, aborts the download once the run is told to stop or the server stalls, and
// learns from the answer itself how it ended (status code, announced length, bytes
// counted). It lives on the stack of one download attempt: AddRef and Release count nothing
// and never free it.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <mutex>

class UpdateRun;

class DownloadStatusCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    DownloadStatusCallback() = default;
    virtual ~DownloadStatusCallback();
    DownloadStatusCallback(const DownloadStatusCallback&) = delete;
    DownloadStatusCallback& operator=(const DownloadStatusCallback&) = delete;

    void SetOwner(UpdateRun* owner) { m_pOwner = owner; }

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
    // E_ABORT when the owner is stopping (nothing written); otherwise stores the progress,
    // 100000 standing in for an unknown (0) total, and returns S_OK. Data reports also
    // count the bytes received.
    STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                            LPCWSTR szStatusText) override;
    // Lets the binding go; S_OK.
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override;
    STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;  // E_NOTIMPL
    STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                 STGMEDIUM* pstgmed) override;                // E_NOTIMPL
    STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override;     // E_NOTIMPL

    // IHttpNegotiate: adds no request headers (S_OK); records the final answer's status
    // code and what its headers say of the body's length (S_OK).
    STDMETHODIMP BeginningTransaction(LPCWSTR szURL, LPCWSTR szHeaders, DWORD dwReserved,
                                      LPWSTR* pszAdditionalHeaders) override;
    STDMETHODIMP OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                            LPCWSTR szRequestHeaders,
                            LPWSTR* pszAdditionalRequestHeaders) override;

    // What the answer said: status 0 until one arrived.
    DWORD HttpStatus() const { return m_dwStatus; }
    bool LengthAnnounced() const { return m_bLengthAnnounced; }
    DWORD AnnouncedLength() const { return m_dwAnnouncedLength; }
    ULONGLONG ReceivedBytes() const { return m_ullReceived; }
    // GetTickCount64 of the last sign of life (start, answer or progress report).
    ULONGLONG LastActivity() const { return m_ullLastActivity; }

    // Any thread: ends the running download (IBinding::Abort); nothing when no binding is
    // held. The download then returns E_ABORT.
    void Abort();
    // Any thread: Abort when nothing was heard for stallMs by now; true when it aborted.
    bool AbortIfStalled(ULONGLONG now, ULONGLONG stallMs);
    bool Stalled() const { return m_bStalled; }

private:
    void Touch() { m_ullLastActivity = GetTickCount64(); }

    UpdateRun* m_pOwner = nullptr;
    std::mutex m_bindingLock;
    IBinding* m_pBinding = nullptr;  // referenced while held
    std::atomic<DWORD> m_dwStatus{0};
    bool m_bLengthAnnounced = false;
    DWORD m_dwAnnouncedLength = 0;
    ULONGLONG m_ullReceived = 0;
    std::atomic<ULONGLONG> m_ullLastActivity{GetTickCount64()};
    std::atomic<bool> m_bStalled{false};
};

constexpr DWORD kUnknownDownloadSize = 100000;
