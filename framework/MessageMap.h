// Message maps: static tables that route window messages and commands to member
// functions of the class that declares them.
//
//   class MyDialog : public CDialog { ... afx_msg void OnPaint(); DECLARE_MESSAGE_MAP() };
//   BEGIN_MESSAGE_MAP(MyDialog, CDialog)
//       ON_WM_PAINT()
//       ON_BN_CLICKED(1000, &MyDialog::OnBnClickedClose)
//   END_MESSAGE_MAP()
//
// A lookup searches the object's own table from top to bottom, then its base class's
// table, and so on up to CCmdTarget's (empty) one; the first matching entry wins.
// A handler's signature is checked when the map is compiled.
#pragma once

#include <windows.h>

#include <type_traits>

#include "Types.h"

// Marks message handlers in class declarations; it expands to nothing.
#ifndef afx_msg
#define afx_msg
#endif

class CCmdTarget;

// Calls the handler of one entry on the target object and returns the message's result.
typedef LRESULT (*AFX_PMSG)(CCmdTarget* pTarget, WPARAM wParam, LPARAM lParam);

// The command "notification code" of menu items, accelerators and ON_COMMAND entries.
// Equal to BN_CLICKED, so a button click reaches an ON_COMMAND entry for its identifier.
#define CN_COMMAND 0

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // the window message; 0 ends the table
    UINT nCode;     // WM_COMMAND only: the notification code
    UINT nID;       // WM_COMMAND only: the first command or control identifier
    UINT nLastID;   // WM_COMMAND only: the last identifier of the range (nID for one)
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The root of every class with a message map.
class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Runs the handler for command nID with notification code nCode, if this object's
    // maps have one. TRUE when a handler ran, FALSE when none matched.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

    // The first entry of this object's maps (own map first, then the bases') that takes
    // the message; for WM_COMMAND, nCode and nID must match too. Null when none does.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode = 0, UINT nID = 0) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

namespace afx_detail {

template <class F>
struct Handler;
template <class C, class R, class... A>
struct Handler<R (C::*)(A...)> {
    using Class = C;
    using Signature = R(A...);
};

template <auto F>
using HandlerClass = typename Handler<decltype(F)>::Class;

template <auto F, class Sig>
constexpr bool kHas = std::is_same_v<typename Handler<decltype(F)>::Signature, Sig>;

template <auto F>
LRESULT CallVoid(CCmdTarget* p, WPARAM, LPARAM) {
    static_assert(kHas<F, void()>, "the handler must be: afx_msg void OnXxx()");
    (static_cast<HandlerClass<F>*>(p)->*F)();
    return 0;
}

template <auto F>
LRESULT CallTimer(CCmdTarget* p, WPARAM wParam, LPARAM) {
    static_assert(kHas<F, void(UINT_PTR)>,
                  "the handler must be: afx_msg void OnTimer(UINT_PTR nIDEvent)");
    (static_cast<HandlerClass<F>*>(p)->*F)(static_cast<UINT_PTR>(wParam));
    return 0;
}

template <auto F>
LRESULT CallPoint(CCmdTarget* p, WPARAM, LPARAM lParam) {
    static_assert(kHas<F, LRESULT(CPoint)>,
                  "the handler must be: afx_msg LRESULT OnNcHitTest(CPoint point)");
    return (static_cast<HandlerClass<F>*>(p)->*F)(CPoint(lParam));
}

template <auto F>
LRESULT CallCursor(CCmdTarget* p, WPARAM, LPARAM) {
    static_assert(kHas<F, HCURSOR()>, "the handler must be: afx_msg HCURSOR OnQueryDragIcon()");
    return reinterpret_cast<LRESULT>((static_cast<HandlerClass<F>*>(p)->*F)());
}

}  // namespace afx_detail

// Inside the class declaration; leaves the access at protected.
#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
        typedef theClass ThisClass;                                                   \
        typedef baseClass TheBaseClass;                                               \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                     \
    { 0, 0, 0, 0, nullptr }                                                                   \
    }                                                                                         \
    ;                                                                                         \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, _messageEntries}; \
    (void)static_cast<ThisClass*>(nullptr);                                                   \
    return &messageMap;                                                                       \
    }

// void OnPaint()
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, &afx_detail::CallVoid<&ThisClass::OnPaint>},
// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER() {WM_TIMER, 0, 0, 0, &afx_detail::CallTimer<&ThisClass::OnTimer>},
// LRESULT OnNcHitTest(CPoint point): point in screen coordinates, signed.
#define ON_WM_NCHITTEST() {WM_NCHITTEST, 0, 0, 0, &afx_detail::CallPoint<&ThisClass::OnNcHitTest>},
// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, 0, &afx_detail::CallCursor<&ThisClass::OnQueryDragIcon>},
// void memberFxn(): the command id (menu, accelerator, or a button's click).
#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, CN_COMMAND, (UINT)(id), (UINT)(id), &afx_detail::CallVoid<memberFxn>},
// void memberFxn(): BN_CLICKED from the button with control identifier id.
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), &afx_detail::CallVoid<memberFxn>},
