// lobby: the stand-in for the game lobby that Update.exe starts again after a complete run
// (the demo installs it as Quillon.exe). One window shows what the update left for the
// lobby: the versions stored in the registry, the archives recorded in "UpdateClient.txt",
// and the lobby's profile form with its boxes filled by Area.dll: the province, the city
// (refilled from the province's identifier whenever the province changes) and the
// education level. A line above the boxes shows the identifiers behind the choices.
// On start it appends its own path to "lobby-started.txt" in the current folder, so that
// scripts can tell it was started.
//
//   lobby [--drop] [--close-after SECONDS]
//     --drop         drops the province list down once the window is shown
//     --close-after  closes the window by itself after that many seconds
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "Area.h"
#include "Scoped.h"

namespace {

const wchar_t kWindowClass[] = L"QuillonStandInLobby";
// ASCII, so that tools outside Windows can find the window by its title.
const wchar_t kWindowTitle[] = L"Quillon (stand-in lobby)";
const char kVersionKey[] = "Software\\Kestro\\Halvora\\FileVersion";
const char kClientFile[] = "./UpdateClient.txt";

constexpr int kMargin = 16;
constexpr int kBoxWidth = 150;
constexpr int kBoxGap = 12;
constexpr int kRowHeight = 24;
constexpr int kDroppedHeight = 330;  // a dropped list shows about 14 items
constexpr int kInstalledLines = 5;
constexpr int kSelectionTop = kMargin + kInstalledLines * 18 + 8;
constexpr int kLabelTop = kSelectionTop + kRowHeight + 8;
constexpr int kBoxTop = kLabelTop + kRowHeight;
constexpr int kClientWidth = 3 * kBoxWidth + 2 * kBoxGap + 2 * kMargin;
constexpr int kClientHeight = kBoxTop + kDroppedHeight + kMargin;

enum : int { kIdProvince = 101, kIdCity, kIdEducation, kIdSelection, kIdInstalled };
enum : UINT_PTR { kTimerDrop = 1, kTimerClose };
constexpr UINT kDropDelayMs = 500;

struct Options {
    bool drop = false;
    UINT closeAfterSeconds = 0;
};

Options ParseOptions() {
    Options options;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) return options;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--drop") == 0) {
            options.drop = true;
        } else if (std::wcscmp(argv[i], L"--close-after") == 0 && i + 1 < argc) {
            options.closeAfterSeconds = static_cast<UINT>(std::wcstoul(argv[++i], nullptr, 10));
        }
    }
    LocalFree(argv);
    return options;
}

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

// What the last update left: the registry's versions and the recorded archives.
std::wstring InstalledSummary() {
    std::wstring text = L"FileVersion1 / FileVersion2: ";
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kVersionKey, 0, KEY_READ, &raw) == ERROR_SUCCESS) {
        ScopedRegKey key(raw);
        const char* names[] = {"FileVersion1", "FileVersion2"};
        for (int i = 0; i < 2; ++i) {
            DWORD value = 0, size = sizeof value, type = 0;
            const bool ok = RegQueryValueExA(key, names[i], nullptr, &type,
                                             reinterpret_cast<BYTE*>(&value),
                                             &size) == ERROR_SUCCESS && type == REG_DWORD;
            text += (i > 0 ? L" / " : L"") + (ok ? std::to_wstring(value) : L"-");
        }
    } else {
        text += L"none (no complete update yet)";
    }
    text += L"\r\nArchives in UpdateClient.txt:";
    std::vector<char> names(32768, '\0');
    const DWORD length =
        GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), kClientFile);
    int shown = 0;
    for (const char* name = names.data(); name < names.data() + length && *name;
         name += std::strlen(name) + 1) {
        const int size = static_cast<int>(
            GetPrivateProfileIntA(name, "UpdateTorvelSize", 0, kClientFile));
        text += (shown % 2 == 0 ? L"\r\n    " : L"      ") + Widen(name) + L" (" +
                std::to_wstring(size) + L" bytes)";
        ++shown;
    }
    if (shown == 0) text += L" none";
    return text;
}

void RecordStart() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    FILE* marker = std::fopen("lobby-started.txt", "a");
    if (marker == nullptr) return;
    std::fprintf(marker, "%s\n", self);
    std::fclose(marker);
}

// The form: owns the two tables and the box objects; the windows belong to the frame.
class ProfileForm {
public:
    ProfileForm(HWND hFrame, const Options& options);
    ProfileForm(const ProfileForm&) = delete;
    ProfileForm& operator=(const ProfileForm&) = delete;
    ~ProfileForm();

    void OnCommand(int id, int code);
    void OnTimer(UINT_PTR id);

private:
    void CreateLabel(const wchar_t* text, int column);
    HWND CreateBox(CComboBox& box, int id, int column);
    void SelectByName(CComboBox& box, const wchar_t* name);
    void FillCities();
    void ShowSelection();
    std::wstring SelectedText(CComboBox& box);

    HWND m_hFrame;
    ScopedGdiObj<HFONT> m_font;
    CAreaData m_area;
    CDegreeData m_degree;
    CComboBox m_province;
    CComboBox m_city;
    CComboBox m_education;
    HWND m_hSelection = nullptr;
    HWND m_hInstalled = nullptr;
};

ProfileForm::ProfileForm(HWND hFrame, const Options& options)
    : m_hFrame(hFrame),
      // 宋体 is the lobby's face; where it is missing the font mapper substitutes.
      m_font(CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"宋体")) {
    m_hInstalled = CreateWindowExW(0, L"STATIC", InstalledSummary().c_str(),
                                   WS_CHILD | WS_VISIBLE, kMargin, kMargin,
                                   kClientWidth - 2 * kMargin, kInstalledLines * 18, hFrame,
                                   reinterpret_cast<HMENU>(UINT_PTR{kIdInstalled}), nullptr,
                                   nullptr);
    SendMessageW(m_hInstalled, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), FALSE);
    m_hSelection =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, kMargin, kSelectionTop,
                        kClientWidth - 2 * kMargin, kRowHeight, hFrame,
                        reinterpret_cast<HMENU>(UINT_PTR{kIdSelection}), nullptr, nullptr);
    SendMessageW(m_hSelection, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), FALSE);
    CreateLabel(L"省份", 0);
    CreateLabel(L"城市", 1);
    CreateLabel(L"学历", 2);
    CreateBox(m_province, kIdProvince, 0);
    CreateBox(m_city, kIdCity, 1);
    CreateBox(m_education, kIdEducation, 2);

    m_area.GetArea(m_area.GetID(L"中国"), &m_province);
    m_degree.GetDegree(&m_education);
    SelectByName(m_province, L"广东");
    SelectByName(m_education, L"本科");
    FillCities();

    if (options.drop) SetTimer(hFrame, kTimerDrop, kDropDelayMs, nullptr);
    if (options.closeAfterSeconds != 0) {
        SetTimer(hFrame, kTimerClose, options.closeAfterSeconds * 1000, nullptr);
    }
}

ProfileForm::~ProfileForm() {
    m_province.Detach();
    m_city.Detach();
    m_education.Detach();
}

void ProfileForm::CreateLabel(const wchar_t* text, int column) {
    HWND hLabel = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE,
                                  kMargin + column * (kBoxWidth + kBoxGap), kLabelTop, kBoxWidth,
                                  kRowHeight, m_hFrame, nullptr, nullptr, nullptr);
    SendMessageW(hLabel, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), FALSE);
}

HWND ProfileForm::CreateBox(CComboBox& box, int id, int column) {
    RECT rect = {kMargin + column * (kBoxWidth + kBoxGap), kBoxTop, 0, 0};
    rect.right = rect.left + kBoxWidth;
    rect.bottom = rect.top + kDroppedHeight;
    CWnd frame;
    frame.Attach(m_hFrame);
    box.Create(WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, rect, &frame,
               static_cast<UINT>(id));
    frame.Detach();
    SendMessageW(box.GetSafeHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(m_font.Get()), FALSE);
    return box.GetSafeHwnd();
}

void ProfileForm::SelectByName(CComboBox& box, const wchar_t* name) {
    LRESULT index = SendMessageW(box.GetSafeHwnd(), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(name));
    box.SetCurSel(index >= 0 ? static_cast<int>(index) : 0);
}

// The lobby's way: the province item's data is the identifier whose children are the
// cities.
void ProfileForm::FillCities() {
    m_city.ResetContent();
    int province = m_province.GetCurSel();
    if (province != CB_ERR) {
        m_area.GetArea(static_cast<WORD>(m_province.GetItemData(province)), &m_city);
        m_city.SetCurSel(0);
    }
    ShowSelection();
}

std::wstring ProfileForm::SelectedText(CComboBox& box) {
    int index = box.GetCurSel();
    if (index == CB_ERR) return L"-";
    LRESULT length =
        SendMessageW(box.GetSafeHwnd(), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0) return L"-";
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    SendMessageW(box.GetSafeHwnd(), CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(length));
    return text + L" (" + std::to_wstring(box.GetItemData(index)) + L")";
}

void ProfileForm::ShowSelection() {
    std::wstring line = L"已选: " + SelectedText(m_province) + L"  " + SelectedText(m_city) +
                        L"  " + SelectedText(m_education);
    SetWindowTextW(m_hSelection, line.c_str());
}

void ProfileForm::OnCommand(int id, int code) {
    if (code != CBN_SELCHANGE) return;
    if (id == kIdProvince) {
        FillCities();
    } else if (id == kIdCity || id == kIdEducation) {
        ShowSelection();
    }
}

void ProfileForm::OnTimer(UINT_PTR id) {
    KillTimer(m_hFrame, id);
    if (id == kTimerDrop) {
        SetFocus(m_province.GetSafeHwnd());
        m_province.ShowDropDown(TRUE);
    } else if (id == kTimerClose) {
        PostMessageW(m_hFrame, WM_CLOSE, 0, 0);
    }
}

ProfileForm* g_pForm = nullptr;

LRESULT CALLBACK FrameProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (g_pForm != nullptr) g_pForm->OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_TIMER:
            if (g_pForm != nullptr) g_pForm->OnTimer(wParam);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hWnd, message, wParam, lParam);
    }
}

// The frame window of the client size the form needs.
HWND CreateFrame(HINSTANCE hInstance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc)) return nullptr;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT rect = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&rect, style, FALSE, 0);
    return CreateWindowExW(0, kWindowClass, kWindowTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                           hInstance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    RecordStart();
    Options options = ParseOptions();
    HWND hFrame = CreateFrame(hInstance);
    if (hFrame == nullptr) return 1;
    int result = 1;
    try {
        ProfileForm form(hFrame, options);
        g_pForm = &form;
        ShowWindow(hFrame, nCmdShow);
        UpdateWindow(hFrame);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        g_pForm = nullptr;
        result = static_cast<int>(msg.wParam);
    } catch (CException* e) {
        // The tables could not be built: no memory. Quietly, like the lobby.
        e->Delete();
        g_pForm = nullptr;
        DestroyWindow(hFrame);
    }
    return result;
}
