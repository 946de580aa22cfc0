#pragma once
// Keeps a resizable dialog's controls in place by anchor rules, shows a size grip, and keeps the
// dialog at least as large as it opened.

#include <vector>

#include "platform/win32/windows_h.h"

namespace qn::ui {

/// What a control does with the dialog's change in size: its edges follow the width change
/// (right edge: Grow, both edges: Move) and the height change likewise.
enum Anchor : unsigned {
    MoveRight = 1u << 0,
    MoveDown = 1u << 1,
    GrowWidth = 1u << 2,
    GrowHeight = 1u << 3,
};

struct AnchorRule {
    int controlId;
    unsigned anchors;
};

class DialogResizer {
public:
    DialogResizer() = default;
    DialogResizer(const DialogResizer&) = delete;
    DialogResizer& operator=(const DialogResizer&) = delete;

    /// At WM_INITDIALOG: takes the dialog's size as its minimum, the controls' places as their
    /// starting places, and adds the size grip in the lower right corner.
    void attach(HWND dialog, const std::vector<AnchorRule>& rules);

    /// WM_SIZE and WM_GETMINMAXINFO; true when handled (the dialog procedure then gives 0).
    /// WM_DPICHANGED rescales what was kept and is left to the system.
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct Placed {
        HWND control;
        RECT start;  // in the dialog's client coordinates at attach
        unsigned anchors;
    };

    void layout(int width, int height);
    void rescale(unsigned dpi);

    HWND dialog_ = nullptr;
    HWND grip_ = nullptr;
    SIZE startClient_{};
    SIZE minimumWindow_{};
    std::vector<Placed> placed_;
    unsigned dpi_ = 96;  // of the places kept
};

}  // namespace qn::ui
