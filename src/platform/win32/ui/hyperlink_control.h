#pragma once
// A static control turned into a link: its own text is both the label and the address opened.

#include <string>

#include "platform/win32/windows_h.h"

namespace qn::ui {

class HyperlinkControl {
public:
    HyperlinkControl() = default;
    ~HyperlinkControl();
    HyperlinkControl(const HyperlinkControl&) = delete;
    HyperlinkControl& operator=(const HyperlinkControl&) = delete;

    /// Subclasses the dialog's static control `id`; false when there is none.
    bool attach(HWND dialog, int id);

    const std::string& target() const { return target_; }
    bool visited() const { return visited_; }

private:
    static LRESULT CALLBACK subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void loadColours();
    void createFont(HFONT base);
    void createTooltip();
    /// The label's place in the control's client coordinates.
    RECT textRect() const;
    bool isOverText(LPARAM clientPoint) const;
    void paint(HDC dc);
    void open();
    void detach();

    HWND control_ = nullptr;
    HWND tooltip_ = nullptr;
    HFONT font_ = nullptr;
    std::string label_;
    std::string target_;
    COLORREF linkColour_ = RGB(0, 0, 255);
    COLORREF visitedColour_ = RGB(128, 0, 128);
    bool visited_ = false;
    bool pressed_ = false;
};

}  // namespace qn::ui
