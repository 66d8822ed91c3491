// Window handles and window messages over Qt's event loop. A handle names a registered window
// (a form or a control); PostMessageA is safe from any thread, SendMessageA from a worker is a
// blocking call onto the GUI thread, which therefore must never wait for that worker.
#pragma once

#include <functional>
#include <memory>

#include "WinTypes.h"

class QWidget;
class TBitmap;

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// Owned by a window: registers it under a fresh handle for its lifetime. Handles are never
// reused, so a message for a window that is gone finds nothing and is dropped.
class TWindowHandle {
public:
    TWindowHandle(QWidget *widget, std::function<void(TMessage &)> wndProc);
    ~TWindowHandle();
    TWindowHandle(const TWindowHandle &) = delete;
    TWindowHandle &operator=(const TWindowHandle &) = delete;
    HWND Handle() const { return FHandle; }

private:
    HWND FHandle;
};

// Posts a message; FALSE when the window does not exist. Delivered on the GUI thread, in
// posting order.
BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// Posts a message whose lParam carries a bitmap. The receiver's handler owns the bitmap from
// the moment it runs; a message that is never delivered (no such window, window destroyed
// first) frees it.
BOOL PostBitmapMessage(HWND window, UINT msg, WPARAM wParam, TBitmap *bitmap);
// Sends a message and returns the handler's result (0 when the window does not exist).
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

bool IsWindow(HWND window);
// The widget registered under a handle, or null (GUI thread only).
QWidget *WindowFromHandle(HWND window);
