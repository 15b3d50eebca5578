#include "DownloadStatusCallback.h"

#include "UpdateDialog.h"

STDMETHODIMP DownloadStatusCallback::QueryInterface(REFIID, void**) { return E_NOTIMPL; }
STDMETHODIMP_(ULONG) DownloadStatusCallback::AddRef() { return 0; }
STDMETHODIMP_(ULONG) DownloadStatusCallback::Release() { return 0; }
STDMETHODIMP DownloadStatusCallback::OnStartBinding(DWORD, IBinding*) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::OnLowResource(DWORD) { return E_NOTIMPL; }

STDMETHODIMP DownloadStatusCallback::OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG,
                                                LPCWSTR) {
    if (m_pOwner->IsStopping()) return E_ABORT;
    const DWORD shownMax = ulProgressMax == 0 ? kUnknownDownloadSize : ulProgressMax;
    m_pOwner->SetProgress(ulProgress, shownMax, ulProgressMax);
    return S_OK;
}

STDMETHODIMP DownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::GetBindInfo(DWORD*, BINDINFO*) { return E_NOTIMPL; }
STDMETHODIMP DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return E_NOTIMPL; }
