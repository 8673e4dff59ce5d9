// The main window on Win32: dialog template 102 run by the Windows dialog manager, and the
// window operations the dialog logic uses, mapped one to one onto the Windows calls. Texts
// cross as Windows-1252 through the -A functions.
#pragma once

#include <windows.h>

#include <map>

#include "app/DialogWindow.h"
#include "app/Resource.h"

static_assert(DIALOG_OK == IDOK && DIALOG_CANCEL == IDCANCEL,
              "the dialog's end codes are Windows' own");

namespace win32 {

class Win32DialogWindow final : public DialogWindow {
public:
    // `instance` holds the program's resources: icon 128, bitmap 130.
    explicit Win32DialogWindow(HINSTANCE instance);
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    // The dialog while it exists (from WM_INITDIALOG to WM_NCDESTROY), else null.
    HWND hwnd() const { return m_hwnd; }

    // DialogWindow
    int doModal(DialogHandlers& handlers) override;
    void endDialog(int code) override;

    int addListItem(int control, const std::string& text) override;
    int listCount(int control) const override;
    void setListItemData(int control, int index, std::int32_t data) override;
    std::int32_t listItemData(int control, int index) const override;
    void setListSelection(int control, int index) override;
    int listSelection(int control) const override;

    void enableControl(int control, bool enabled) override;
    void setControlText(int control, const std::string& text) override;
    std::string controlText(int control) const override;
    void setCheck(int control, bool checked) override;
    bool isChecked(int control) const override;
    void setCaption(const std::string& text) override;

    unsigned setTimer(unsigned id, unsigned periodMs) override;
    void killTimer(unsigned id) override;

    void messageBox(const std::string& text) override;

    Rect windowRect() const override;
    void moveWindow(const Rect& rect) override;

    bool hasSystemMenu() const override;
    void appendSystemMenuSeparator() override;
    void appendSystemMenuItem(unsigned id, const std::string& text) override;

    void setIcon(int iconResource) override;
    void showAboutBox() override;

    bool isIconic() const override;
    Rect clientRect() const override;
    int iconWidth() const override;
    int iconHeight() const override;
    void drawIcon(int x, int y) override;

    bool isControlInView(int control) const override;
    void showFocusHint(const std::string& text) override;

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND item(int control) const;  // null for none of the window's controls
    LRESULT sendToControl(int control, UINT message, WPARAM wParam, LPARAM lParam) const;

    HINSTANCE m_instance;
    HWND m_hwnd = nullptr;
    DialogHandlers* m_handlers = nullptr;  // while the dialog runs
    bool m_used = false;                   // a window runs one dialog only
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HDC m_paintDC = nullptr;         // while the window paints
    HWND m_focusHint = nullptr;      // made when first needed, a child of the dialog
    std::map<int, HWND> m_controls;  // by control id, while the dialog exists

    // The focus hint line, in dialog units.
    static constexpr int HINT_LEFT_DU = 12;
    static constexpr int HINT_HEIGHT_DU = 10;
};

}  // namespace win32
