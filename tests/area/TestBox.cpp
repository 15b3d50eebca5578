#include "TestBox.h"

void PrintTo(const BoxItem& item, std::ostream* os) {
    *os << "{";
    for (wchar_t c : item.text) *os << "\\x" << std::hex << static_cast<unsigned>(c) << std::dec;
    *os << ", " << item.data << "}";
}

TestBox::TestBox(DWORD extraStyle)
    : m_frame(CreateWindowExW(0, L"STATIC", L"area test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300,
                              nullptr, nullptr, nullptr, nullptr)) {
    HWND hBox = CreateWindowExW(0, L"COMBOBOX", nullptr,
                                WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST | extraStyle, 10, 10, 200,
                                200, m_frame.Get(), nullptr, nullptr, nullptr);
    m_box.Attach(hBox);
}

std::vector<BoxItem> TestBox::Items() const {
    HWND hBox = m_box.GetSafeHwnd();
    std::vector<BoxItem> items;
    LRESULT count = SendMessageW(hBox, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(hBox, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::vector<wchar_t> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, L'\0');
        SendMessageW(hBox, CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text.data()));
        items.push_back(
            {text.data(), SendMessageW(hBox, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)});
    }
    return items;
}
