// CButton: a push button, check box or radio button control; bound to its window by
// DDX_Control or Attach.
#pragma once

#include "Wnd.h"

class CButton : public CWnd {};
