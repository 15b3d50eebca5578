// Real combo boxes for the tests: a hidden top-level window holding one COMBOBOX, and
// what the box shows, read back with CB_GETCOUNT, CB_GETLBTEXT and CB_GETITEMDATA.
#pragma once

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "ComboBox.h"

struct BoxItem {
    std::wstring text;
    LRESULT data;
    bool operator==(const BoxItem& other) const { return text == other.text && data == other.data; }
};
void PrintTo(const BoxItem& item, std::ostream* os);

// Destroys the window it holds.
class ScopedWindow {
public:
    explicit ScopedWindow(HWND hWnd) : m_hWnd(hWnd) {}
    ~ScopedWindow() {
        if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
    }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;
    HWND Get() const { return m_hWnd; }

private:
    HWND m_hWnd;
};

class TestBox {
public:
    // extraStyle: CBS_SORT for a sorted box. The box starts empty.
    explicit TestBox(DWORD extraStyle = 0);
    ~TestBox() { m_box.Detach(); }
    TestBox(const TestBox&) = delete;
    TestBox& operator=(const TestBox&) = delete;

    CComboBox* Box() { return &m_box; }
    std::vector<BoxItem> Items() const;

private:
    ScopedWindow m_frame;
    CComboBox m_box;
};
