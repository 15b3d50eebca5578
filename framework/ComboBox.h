// CComboBox: a combo-box control. Like every CWnd it wraps a window it does not own.
// The members send the control's messages to m_hWnd and return what the control answers;
// with no window bound they return CB_ERR (nothing for ShowDropDown). They are
// independent of the character set.
#pragma once

#include <windows.h>

#include "Wnd.h"

class CComboBox : public CWnd {
public:
    // Creates a COMBOBOX child window of pParentWnd and binds it. FALSE when the object
    // is already bound, pParentWnd has no window, or the window cannot be created. For a
    // drop-down box the height of rect is that of the dropped list.
    BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
        if (m_hWnd != nullptr || pParentWnd == nullptr || pParentWnd->m_hWnd == nullptr) {
            return FALSE;
        }
        HWND hWnd =
            CreateWindowExW(0, L"COMBOBOX", nullptr, dwStyle | WS_CHILD, rect.left, rect.top,
                            rect.right - rect.left, rect.bottom - rect.top, pParentWnd->m_hWnd,
                            reinterpret_cast<HMENU>(UINT_PTR{nID}), nullptr, nullptr);
        return Attach(hWnd);
    }

    // Index of the selected item; CB_ERR when none is selected.
    int GetCurSel() const { return Send(CB_GETCURSEL, 0, 0); }
    // Selects item nSelect (-1: none); returns its index, CB_ERR when out of range.
    int SetCurSel(int nSelect) { return Send(CB_SETCURSEL, static_cast<WPARAM>(nSelect), 0); }
    // The value attached to item nIndex; CB_ERR when nIndex is out of range.
    DWORD_PTR GetItemData(int nIndex) const {
        return static_cast<DWORD_PTR>(SendRaw(CB_GETITEMDATA, static_cast<WPARAM>(nIndex), 0));
    }
    // Removes every item.
    void ResetContent() { Send(CB_RESETCONTENT, 0, 0); }
    // Drops the list down (TRUE) or closes it.
    void ShowDropDown(BOOL bShowIt = TRUE) { Send(CB_SHOWDROPDOWN, bShowIt, 0); }

private:
    LRESULT SendRaw(UINT message, WPARAM wParam, LPARAM lParam) const {
        return m_hWnd ? ::SendMessageW(m_hWnd, message, wParam, lParam) : CB_ERR;
    }
    int Send(UINT message, WPARAM wParam, LPARAM lParam) const {
        return static_cast<int>(SendRaw(message, wParam, lParam));
    }
};
