#include "DownloadStatusCallback.h"

#include "DownloadCheck.h"
#include "UpdateRun.h"

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
                                                ULONG ulStatusCode, LPCWSTR) {
    if (m_pOwner->IsStopping()) return E_ABORT;
    Touch();
    if (ulStatusCode == BINDSTATUS_BEGINDOWNLOADDATA ||
        ulStatusCode == BINDSTATUS_DOWNLOADINGDATA || ulStatusCode == BINDSTATUS_ENDDOWNLOADDATA) {
        m_ullReceived = ulProgress;
    }
    const DWORD shownMax = ulProgressMax == 0 ? kUnknownDownloadSize : ulProgressMax;
    m_pOwner->SetProgress(ulProgress, shownMax);
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

STDMETHODIMP DownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }

STDMETHODIMP DownloadStatusCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                          LPWSTR* pszAdditionalHeaders) {
    if (pszAdditionalHeaders != nullptr) *pszAdditionalHeaders = nullptr;
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::OnResponse(DWORD dwResponseCode, LPCWSTR szResponseHeaders,
                                                LPCWSTR, LPWSTR* pszAdditionalRequestHeaders) {
    if (pszAdditionalRequestHeaders != nullptr) *pszAdditionalRequestHeaders = nullptr;
    Touch();
    // Redirects are followed below this call: the code is the final answer's.
    m_dwStatus = dwResponseCode;
    m_bLengthAnnounced = AnnouncedBodyLength(szResponseHeaders, &m_dwAnnouncedLength);
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

bool DownloadStatusCallback::AbortIfStalled(ULONGLONG now, ULONGLONG stallMs) {
    const ULONGLONG last = m_ullLastActivity;
    if (now < last || now - last < stallMs) return false;
    m_bStalled = true;
    Abort();
    // A download that has not bound yet cannot be aborted; the next look tries again, and
    // the clock starts over so that it does not try at every look.
    m_ullLastActivity = now;
    return true;
}
