// The IBindStatusCallback handed to URLDownloadToFileA: copies the download's progress into
// the dialog and aborts the download once the run is told to stop. It lives on the stack of
// one download attempt: AddRef and Release count nothing and never free it.
#pragma once

#include <windows.h>
#include <urlmon.h>

class UpdateDialog;

class DownloadStatusCallback : public IBindStatusCallback {
public:
    DownloadStatusCallback() = default;
    virtual ~DownloadStatusCallback() = default;
    DownloadStatusCallback(const DownloadStatusCallback&) = delete;
    DownloadStatusCallback& operator=(const DownloadStatusCallback&) = delete;

    void SetOwner(UpdateDialog* owner) { m_pOwner = owner; }

    // E_NOTIMPL for every interface, IUnknown included; ppv is not written.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;   // 0
    STDMETHODIMP_(ULONG) Release() override;  // 0
    STDMETHODIMP OnStartBinding(DWORD dwReserved, IBinding* pib) override;  // E_NOTIMPL
    STDMETHODIMP GetPriority(LONG* pnPriority) override;                    // E_NOTIMPL
    STDMETHODIMP OnLowResource(DWORD reserved) override;                    // E_NOTIMPL
    // E_ABORT when the owner is stopping (nothing written); otherwise stores the progress,
    // 100000 standing in for an unknown (0) total, and returns S_OK.
    STDMETHODIMP OnProgress(ULONG ulProgress, ULONG ulProgressMax, ULONG ulStatusCode,
                            LPCWSTR szStatusText) override;
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR szError) override;        // E_NOTIMPL
    STDMETHODIMP GetBindInfo(DWORD* grfBINDF, BINDINFO* pbindinfo) override;      // E_NOTIMPL
    STDMETHODIMP OnDataAvailable(DWORD grfBSCF, DWORD dwSize, FORMATETC* pformatetc,
                                 STGMEDIUM* pstgmed) override;                    // E_NOTIMPL
    STDMETHODIMP OnObjectAvailable(REFIID riid, IUnknown* punk) override;         // E_NOTIMPL

private:
    UpdateDialog* m_pOwner = nullptr;
};

constexpr DWORD kUnknownDownloadSize = 100000;
