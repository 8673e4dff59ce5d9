// The window operations the dialog logic needs, and the messages a window delivers to it.
// Qt (qt/) and Win32 (win32/) implement them for real, a recording window for the tests
// (app/tests/); app/tests/DialogWindowContract.h holds what all three do alike. All texts
// are single-byte Windows-1252.
#pragma once

#include <cstdint>
#include <string>

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// What a window delivers to its dialog logic, on the window's one thread.
class DialogHandlers {
public:
    virtual ~DialogHandlers() = default;

    virtual bool OnInitDialog() = 0;
    virtual void OnTimer(unsigned timerId) = 0;
    virtual void OnParamSelChange() = 0;  // only for a selection the user made
    virtual void OnSendClicked() = 0;     // also Enter: Send is the default button
    virtual void OnAutoRefreshClicked() = 0;
    virtual void OnSysCommand(unsigned id) = 0;
    virtual void OnPaint() = 0;
    virtual void OnDestroy() = 0;
    // The keyboard focus moved to `control` (0: to no control of the window).
    virtual void OnFocusChange(int control) = 0;
};

class DialogWindow {
public:
    virtual ~DialogWindow() = default;

    // Runs the dialog: OnInitDialog, then messages until endDialog() or close (Esc, the
    // close box: DIALOG_CANCEL), then OnDestroy. Returns the end code.
    virtual int doModal(DialogHandlers& handlers) = 0;
    virtual void endDialog(int code) = 0;

    // The drop-down list. A selection set here is the program's: no OnParamSelChange.
    virtual int addListItem(int control, const std::string& text) = 0;  // the new index
    virtual int listCount(int control) const = 0;
    virtual void setListItemData(int control, int index, std::int32_t data) = 0;
    virtual std::int32_t listItemData(int control, int index) const = 0;
    virtual void setListSelection(int control, int index) = 0;  // -1: none
    virtual int listSelection(int control) const = 0;           // -1: none

    virtual void enableControl(int control, bool enabled) = 0;
    // Sets the text every time, the same text again included. A drop-down list's text is
    // its selection's: setting one changes nothing.
    virtual void setControlText(int control, const std::string& text) = 0;
    virtual std::string controlText(int control) const = 0;
    virtual void setCheck(int control, bool checked) = 0;
    virtual bool isChecked(int control) const = 0;
    virtual void setCaption(const std::string& text) = 0;

    // Periodic timers delivered as OnTimer(id), also while a message box is open.
    // setTimer returns the id, or 0 when no timer could be made.
    virtual unsigned setTimer(unsigned id, unsigned periodMs) = 0;
    virtual void killTimer(unsigned id) = 0;

    // A modal message box with an OK button only; returns when it is dismissed.
    virtual void messageBox(const std::string& text) = 0;

    // Outer window rectangle in screen pixels; move and resize with repaint.
    virtual Rect windowRect() const = 0;
    virtual void moveWindow(const Rect& rect) = 0;

    // Whether the whole control lies inside the window's client area.
    virtual bool isControlInView(int control) const = 0;
    // A short line in the window's visible area; the empty text takes it away.
    virtual void showFocusHint(const std::string& text) = 0;

    // The window's system menu, or the closest thing the platform offers.
    virtual bool hasSystemMenu() const = 0;
    virtual void appendSystemMenuSeparator() = 0;
    virtual void appendSystemMenuItem(unsigned id, const std::string& text) = 0;

    virtual void setIcon(int iconResource) = 0;  // big and small window icon
    virtual void showAboutBox() = 0;             // runs CAboutDlg modally

    // Painting the minimised window.
    virtual bool isIconic() const = 0;
    virtual Rect clientRect() const = 0;
    virtual int iconWidth() const = 0;
    virtual int iconHeight() const = 0;
    virtual void drawIcon(int x, int y) = 0;
};
