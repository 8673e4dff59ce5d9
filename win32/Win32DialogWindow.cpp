#include "win32/Win32DialogWindow.h"

#include <algorithm>
#include <array>

#include "app/CAboutDlg.h"
#include "app/DialogTemplate.h"
#include "app/StringTable.h"
#include "win32/DialogBuilder.h"

namespace win32 {
namespace {

Rect toRect(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

LPCSTR resourceName(int id) {
    return MAKEINTRESOURCEA(id);
}

// The About box has no logic of its own: it shows CAboutDlg's texts and closes on OK, Esc
// and its close box.
INT_PTR CALLBACK aboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowTextA(hwnd, CAboutDlg::CAPTION);
            SetDlgItemTextA(hwnd, ui::IDC_ABOUT_PROGRAM, CAboutDlg::programLine().c_str());
            SetDlgItemTextA(hwnd, ui::IDC_ABOUT_DESCRIPTION, CAboutDlg::descriptionLine().c_str());
            return TRUE;
        case WM_COMMAND:
            // Clicks only: the buttons also report when they take the focus.
            if ((LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) &&
                HIWORD(wParam) == BN_CLICKED) {
                EndDialog(hwnd, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(HINSTANCE instance) : m_instance(instance) {}

int Win32DialogWindow::doModal(DialogHandlers& handlers) {
    if (m_used) {
        return -1;
    }
    m_used = true;
    m_handlers = &handlers;
    const DialogTemplateBuffer dialog(
        dialogDefinition(ui::mainDialogTemplate(), MAIN_DIALOG_STYLE));
    const INT_PTR code = DialogBoxIndirectParamA(m_instance, dialog.get(), nullptr, &dialogProc,
                                                 reinterpret_cast<LPARAM>(this));
    m_handlers = nullptr;
    return static_cast<int>(code);
}

void Win32DialogWindow::endDialog(int code) {
    // The dialog manager destroys the window once the message being handled returns.
    if (m_hwnd != nullptr) {
        EndDialog(m_hwnd, code);
    }
}

INT_PTR CALLBACK Win32DialogWindow::dialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32DialogWindow*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
    }
    if (self == nullptr || self->m_handlers == nullptr) {
        return FALSE;  // the messages of creation, before WM_INITDIALOG
    }
    const INT_PTR result = self->handleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->m_hwnd = nullptr;
        self->m_focusHint = nullptr;  // destroyed with its parent
        self->m_controls.clear();
    }
    return result;
}

INT_PTR Win32DialogWindow::handleMessage(UINT message, WPARAM wParam, LPARAM) {
    DialogHandlers& handlers = *m_handlers;
    switch (message) {
        case WM_INITDIALOG:
            // The handles once: the pump reaches every field five times a second.
            for (const ui::TemplateItem& item : ui::mainDialogTemplate().items) {
                if (item.id != ui::IDC_STATIC) {
                    m_controls[item.id] = GetDlgItem(m_hwnd, item.id);
                }
            }
            // TRUE: the dialog manager puts the focus on the first tab stop.
            return handlers.OnInitDialog() ? TRUE : FALSE;
        case WM_TIMER:
            handlers.OnTimer(static_cast<unsigned>(wParam));
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (code == EN_SETFOCUS || code == CBN_SETFOCUS || code == BN_SETFOCUS) {
                handlers.OnFocusChange(id);
                return TRUE;
            }
            if (id == IDC_PARAM_LIST && code == CBN_SELCHANGE) {
                handlers.OnParamSelChange();  // the list sends it for the user's choices only
            } else if (id == IDC_SEND && code == BN_CLICKED) {
                handlers.OnSendClicked();  // also Enter: Send is the default button
            } else if (id == IDC_AUTO_REFRESH && code == BN_CLICKED) {
                handlers.OnAutoRefreshClicked();
            } else if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED) {
                // The framework's defaults: Esc and the close box arrive as IDCANCEL.
                EndDialog(m_hwnd, id);
            } else {
                return FALSE;
            }
            return TRUE;
        }
        case WM_SYSCOMMAND:
            handlers.OnSysCommand(static_cast<unsigned>(wParam));
            // The default handling still runs: it ignores the program's own ids.
            return FALSE;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            m_paintDC = BeginPaint(m_hwnd, &paint);
            handlers.OnPaint();
            m_paintDC = nullptr;
            EndPaint(m_hwnd, &paint);
            return TRUE;
        }
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_bigIcon);
        case WM_DESTROY:
            handlers.OnDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

HWND Win32DialogWindow::item(int control) const {
    const auto found = m_controls.find(control);
    return found == m_controls.end() ? nullptr : found->second;
}

LRESULT Win32DialogWindow::sendToControl(int control, UINT message, WPARAM wParam,
                                         LPARAM lParam) const {
    HWND hwnd = item(control);
    return hwnd == nullptr ? 0 : SendMessageA(hwnd, message, wParam, lParam);
}

int Win32DialogWindow::addListItem(int control, const std::string& text) {
    if (item(control) == nullptr) {
        return CB_ERR;
    }
    return static_cast<int>(
        sendToControl(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int Win32DialogWindow::listCount(int control) const {
    return std::max(0, static_cast<int>(sendToControl(control, CB_GETCOUNT, 0, 0)));
}

void Win32DialogWindow::setListItemData(int control, int index, std::int32_t data) {
    sendToControl(control, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
}

std::int32_t Win32DialogWindow::listItemData(int control, int index) const {
    if (item(control) == nullptr) {
        return CB_ERR;
    }
    return static_cast<std::int32_t>(
        sendToControl(control, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void Win32DialogWindow::setListSelection(int control, int index) {
    // An index outside the list clears the selection, as Windows documents it (Wine
    // keeps the old one). CB_SETCURSEL sends no CBN_SELCHANGE: the program's selection
    // stays silent.
    if (index < 0 || index >= listCount(control)) {
        index = -1;
    }
    sendToControl(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32DialogWindow::listSelection(int control) const {
    if (item(control) == nullptr) {
        return CB_ERR;
    }
    return static_cast<int>(sendToControl(control, CB_GETCURSEL, 0, 0));
}

void Win32DialogWindow::enableControl(int control, bool enabled) {
    if (HWND hwnd = item(control)) {
        EnableWindow(hwnd, enabled ? TRUE : FALSE);
    }
}

void Win32DialogWindow::setControlText(int control, const std::string& text) {
    // A drop-down list has no text of its own: Windows refuses it there.
    if (HWND hwnd = item(control)) {
        SetWindowTextA(hwnd, text.c_str());
    }
}

std::string Win32DialogWindow::controlText(int control) const {
    HWND hwnd = item(control);
    if (hwnd == nullptr) {
        return {};
    }
    // One message for the short texts the refresh compares five times a second; a longer
    // one is measured first.
    std::array<char, 128> shortText{};
    const int copied = GetWindowTextA(hwnd, shortText.data(), static_cast<int>(shortText.size()));
    if (copied >= 0 && copied + 1 < static_cast<int>(shortText.size())) {
        return std::string(shortText.data(), static_cast<std::size_t>(copied));
    }
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
    const int all = GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(all, 0)));
    return text;
}

void Win32DialogWindow::setCheck(int control, bool checked) {
    sendToControl(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32DialogWindow::isChecked(int control) const {
    return sendToControl(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32DialogWindow::setCaption(const std::string& text) {
    if (m_hwnd != nullptr) {
        SetWindowTextA(m_hwnd, text.c_str());
    }
}

unsigned Win32DialogWindow::setTimer(unsigned id, unsigned periodMs) {
    // 0 is the failure answer, so it can name no timer.
    if (m_hwnd == nullptr || id == 0) {
        return 0;
    }
    return static_cast<unsigned>(SetTimer(m_hwnd, id, periodMs, nullptr));
}

void Win32DialogWindow::killTimer(unsigned id) {
    if (m_hwnd != nullptr) {
        KillTimer(m_hwnd, id);
    }
}

void Win32DialogWindow::messageBox(const std::string& text) {
    // Owned by the dialog when there is one; its loop keeps the dialog's timers running.
    MessageBoxA(m_hwnd, text.c_str(), TEXT_MESSAGE_BOX_CAPTION, MB_OK);
}

Rect Win32DialogWindow::windowRect() const {
    RECT rect{};
    if (m_hwnd != nullptr) {
        GetWindowRect(m_hwnd, &rect);
    }
    return toRect(rect);
}

void Win32DialogWindow::moveWindow(const Rect& rect) {
    if (m_hwnd != nullptr) {
        MoveWindow(m_hwnd, rect.left, rect.top, rect.width(), rect.height(), TRUE);
    }
}

bool Win32DialogWindow::hasSystemMenu() const {
    return m_hwnd != nullptr && GetSystemMenu(m_hwnd, FALSE) != nullptr;
}

void Win32DialogWindow::appendSystemMenuSeparator() {
    if (HMENU menu = m_hwnd == nullptr ? nullptr : GetSystemMenu(m_hwnd, FALSE)) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    }
}

void Win32DialogWindow::appendSystemMenuItem(unsigned id, const std::string& text) {
    if (HMENU menu = m_hwnd == nullptr ? nullptr : GetSystemMenu(m_hwnd, FALSE)) {
        AppendMenuA(menu, MF_STRING, id, text.c_str());
    }
}

void Win32DialogWindow::setIcon(int iconResource) {
    m_bigIcon = LoadIconA(m_instance, resourceName(iconResource));
    // The small icon from the icon's own 16-pixel image rather than the big one shrunk.
    m_smallIcon = static_cast<HICON>(LoadImageA(m_instance, resourceName(iconResource), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (m_hwnd != nullptr) {
        SendMessageA(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
        SendMessageA(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    }
}

void Win32DialogWindow::showAboutBox() {
    const DialogTemplateBuffer about(
        dialogDefinition(ui::aboutDialogTemplate(), ABOUT_DIALOG_STYLE));
    DialogBoxIndirectParamA(m_instance, about.get(), m_hwnd, &aboutProc, 0);
}

bool Win32DialogWindow::isIconic() const {
    return m_hwnd != nullptr && IsIconic(m_hwnd) != FALSE;
}

Rect Win32DialogWindow::clientRect() const {
    RECT rect{};
    if (m_hwnd != nullptr) {
        GetClientRect(m_hwnd, &rect);
    }
    return toRect(rect);
}

int Win32DialogWindow::iconWidth() const {
    return GetSystemMetrics(SM_CXICON);
}

int Win32DialogWindow::iconHeight() const {
    return GetSystemMetrics(SM_CYICON);
}

void Win32DialogWindow::drawIcon(int x, int y) {
    // Only while the window paints, as a device context is.
    if (m_paintDC == nullptr) {
        return;
    }
    SendMessageA(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(m_paintDC), 0);
    DrawIcon(m_paintDC, x, y, m_bigIcon);
}

bool Win32DialogWindow::isControlInView(int control) const {
    const HWND hwnd = item(control);
    if (hwnd == nullptr) {
        return false;
    }
    RECT rect;
    GetWindowRect(hwnd, &rect);
    MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&rect), 2);
    RECT client;
    GetClientRect(m_hwnd, &client);
    return rect.left >= client.left && rect.top >= client.top && rect.right <= client.right &&
           rect.bottom <= client.bottom;
}

void Win32DialogWindow::showFocusHint(const std::string& text) {
    if (m_hwnd == nullptr) {
        return;
    }
    if (text.empty()) {
        if (m_focusHint != nullptr) {
            ShowWindow(m_focusHint, SW_HIDE);
        }
        return;
    }
    // On the window's lower edge, in line with the group boxes' captions, one line high.
    RECT units{HINT_LEFT_DU, 0, 0, HINT_HEIGHT_DU};
    MapDialogRect(m_hwnd, &units);
    RECT client;
    GetClientRect(m_hwnd, &client);
    if (m_focusHint == nullptr) {
        m_focusHint = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0,
                                      m_hwnd, nullptr, m_instance, nullptr);
        SendMessageA(m_focusHint, WM_SETFONT,
                     static_cast<WPARAM>(SendMessageA(m_hwnd, WM_GETFONT, 0, 0)), FALSE);
    }
    SetWindowTextA(m_focusHint, text.c_str());
    SetWindowPos(m_focusHint, HWND_TOP, units.left, client.bottom - units.bottom,
                 client.right - 2 * units.left, units.bottom, SWP_SHOWWINDOW);
}

}  // namespace win32
