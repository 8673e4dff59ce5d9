// A window without a screen: keeps the state of every control of the main window the way
// the user would see it, records message boxes, and delivers messages the way the platform
// does (timers only while they run, and also while a message box is open). Any operation
// on a control the window does not have, or after the window is destroyed, fails the
// current test.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/DialogWindow.h"

class RecordingWindow : public DialogWindow {
public:
    struct Control {
        bool isList = false;
        bool isCheckBox = false;
        std::string text;
        int textWrites = 0;  // setControlText calls: what a real control would repaint
        bool enabled = true;
        bool checked = false;
        std::vector<std::string> items;
        std::vector<std::int32_t> itemData;
        int selection = -1;
    };

    struct MessageBox {
        std::string text;
        bool windowShown;  // false: the box came before the window appeared
        int depth;         // 1 for a box, 2 for a box opened while another was open
    };

    struct MenuEntry {
        bool separator;
        unsigned id;
        std::string text;
    };

    // The window as the template creates it: every control, the initial caption and texts.
    RecordingWindow();

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
    Rect windowRect() const override { return m_rect; }
    void moveWindow(const Rect& rect) override;
    bool isControlInView(int control) const override;
    void showFocusHint(const std::string& text) override { m_focusHint = text; }
    bool hasSystemMenu() const override { return m_hasSystemMenu; }
    void appendSystemMenuSeparator() override;
    void appendSystemMenuItem(unsigned id, const std::string& text) override;
    void setIcon(int iconResource) override;
    void showAboutBox() override;
    bool isIconic() const override { return m_iconic; }
    Rect clientRect() const override { return m_clientRect; }
    int iconWidth() const override { return m_iconWidth; }
    int iconHeight() const override { return m_iconHeight; }
    void drawIcon(int x, int y) override;

    // doModal in steps, for tests that drive the dialog themselves: open() runs
    // OnInitDialog and shows the window; destroy() runs OnDestroy once.
    bool open(DialogHandlers& handlers);
    void destroy();

    // What doModal does between OnInitDialog and OnDestroy: the user's session. When it
    // returns with the dialog not ended, the user closes the window (DIALOG_CANCEL).
    void setSession(std::function<void(RecordingWindow&)> session) {
        m_session = std::move(session);
    }
    // Runs while each message box is open, with the box's text; may deliver messages.
    void whileMessageBoxOpen(std::function<void(const std::string&)> handler) {
        m_boxHandler = std::move(handler);
    }

    // The platform's messages. Each is delivered only while the dialog runs (opened, not
    // ended, not destroyed) and, for the user's actions, only to enabled controls; the
    // result says whether it was delivered.
    bool tick(unsigned id);
    bool userSelects(int index);
    bool userTypes(const std::string& text);
    bool userClicksSend();
    bool userPressesEnter();
    bool userClicksAutoRefresh();
    bool userPressesEscape();
    bool userChoosesSystemCommand(unsigned id);
    bool userFocuses(int id);  // Tab or a click; 0: away from every control
    bool paint();

    // What the user sees.
    const Control& control(int id) const;
    const std::string& text(int id) const { return control(id).text; }
    bool enabled(int id) const { return control(id).enabled; }
    const std::string& caption() const { return m_caption; }
    int captionWrites() const { return m_captionWrites; }
    const std::vector<MessageBox>& messageBoxes() const { return m_boxes; }
    std::vector<std::string> messageBoxTexts() const;
    const std::map<unsigned, unsigned>& timers() const { return m_timers; }  // id -> period
    const std::vector<unsigned>& killedTimers() const { return m_killed; }
    const std::vector<MenuEntry>& systemMenu() const { return m_menu; }
    int icon() const { return m_icon; }
    int aboutBoxes() const { return m_aboutBoxes; }
    const std::vector<std::pair<int, int>>& drawnIcons() const { return m_drawnIcons; }
    std::vector<Rect> moves() const { return m_moves; }
    bool shown() const { return m_shown; }
    bool ended() const { return m_ended; }
    int endCode() const { return m_endCode; }
    bool destroyed() const { return m_destroyed; }
    int boxDepth() const { return m_boxDepth; }
    const std::string& focusHint() const { return m_focusHint; }

    // Set-up of the platform's side.
    void setInitialRect(const Rect& rect) { m_rect = rect; }
    void setHasSystemMenu(bool has) { m_hasSystemMenu = has; }
    // Controls that lie outside the client area once the window is shortened.
    void setOutOfView(std::vector<int> controls) { m_outOfView = std::move(controls); }
    void setIconic(bool iconic) { m_iconic = iconic; }
    void setClientRect(const Rect& rect) { m_clientRect = rect; }
    void setIconSize(int width, int height) {
        m_iconWidth = width;
        m_iconHeight = height;
    }

private:
    Control* find(int id, const char* operation);
    const Control* find(int id, const char* operation) const;
    Control* findList(int id, const char* operation);
    const Control* findList(int id, const char* operation) const;
    bool running() const;
    void checkAlive(const char* operation) const;

    std::map<int, Control> m_controls;
    std::string m_caption;
    std::map<unsigned, unsigned> m_timers;
    std::vector<unsigned> m_killed;
    std::vector<MessageBox> m_boxes;
    std::vector<MenuEntry> m_menu;
    std::vector<std::pair<int, int>> m_drawnIcons;
    std::vector<Rect> m_moves;
    std::vector<int> m_outOfView;
    std::string m_focusHint;
    Rect m_rect{100, 80, 626, 585};
    Rect m_clientRect{0, 0, 518, 457};
    int m_iconWidth = 32;
    int m_iconHeight = 32;
    int m_icon = 0;
    int m_aboutBoxes = 0;
    int m_captionWrites = 0;
    int m_boxDepth = 0;
    int m_endCode = -1;
    bool m_hasSystemMenu = true;
    bool m_iconic = false;
    bool m_opened = false;
    bool m_shown = false;
    bool m_ended = false;
    bool m_destroyed = false;
    DialogHandlers* m_handlers = nullptr;
    std::function<void(RecordingWindow&)> m_session;
    std::function<void(const std::string&)> m_boxHandler;
};
