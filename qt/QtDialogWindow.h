// The main window on Qt Widgets: dialog template 102 realised with real widgets, and the
// window operations the dialog logic uses, mapped onto them.
#pragma once

#include <QDialog>
#include <map>
#include <memory>
#include <string>

#include "app/DialogWindow.h"

class QEventLoop;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QTimer;

namespace qtui {

class QtDialogWindow;

// The Qt side of the window: turns Qt's events into the dialog's messages.
class OstrelDialog final : public QDialog {
    Q_OBJECT

public:
    explicit OstrelDialog(QtDialogWindow& owner);

    // Esc and the close box end the dialog with DIALOG_CANCEL.
    void reject() override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QtDialogWindow& m_owner;
};

class QtDialogWindow final : public DialogWindow {
public:
    QtDialogWindow();
    ~QtDialogWindow() override;
    QtDialogWindow(const QtDialogWindow&) = delete;
    QtDialogWindow& operator=(const QtDialogWindow&) = delete;

    // The widgets, for the programs and the tests.
    QDialog& dialog() { return *m_dialog; }
    QWidget* control(int id) const;
    QMenu& systemMenu() { return *m_systemMenu; }
    // Opens the system menu at a point of the window, in window coordinates.
    void popupSystemMenu(const QPoint& pos);

    // DialogWindow
    int doModal(DialogHandlers& handlers) override;
    void endDialog(int code) override;

    int addListItem(int id, const std::string& text) override;
    int listCount(int id) const override;
    void setListItemData(int id, int index, std::int32_t data) override;
    std::int32_t listItemData(int id, int index) const override;
    void setListSelection(int id, int index) override;
    int listSelection(int id) const override;

    void enableControl(int id, bool enabled) override;
    void setControlText(int id, const std::string& text) override;
    std::string controlText(int id) const override;
    void setCheck(int id, bool checked) override;
    bool isChecked(int id) const override;
    void setCaption(const std::string& text) override;

    unsigned setTimer(unsigned id, unsigned periodMs) override;
    void killTimer(unsigned id) override;

    void messageBox(const std::string& text) override;

    Rect windowRect() const override;
    void moveWindow(const Rect& rect) override;

    bool isControlInView(int id) const override;
    void showFocusHint(const std::string& text) override;

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

private:
    friend class OstrelDialog;

    enum class State { Created, Running, Ended, Destroyed };

    void buildControls();
    // The control id of `widget`, or 0 when it is none of the window's controls.
    int controlId(const QWidget* widget) const;
    // A field's own context menu, with the items the logic added to the system menu.
    void popupFieldMenu(QLineEdit& field, const QPoint& pos);
    // The handlers, while the dialog runs (between OnInitDialog and OnDestroy).
    DialogHandlers* activeHandlers() const;
    void paint(QPainter& painter);

    std::unique_ptr<OstrelDialog> m_dialog;
    std::map<int, QWidget*> m_controls;  // by control id; the statics have none
    std::map<unsigned, std::unique_ptr<QTimer>> m_timers;
    QMenu* m_systemMenu = nullptr;
    QList<QAction*> m_addedMenuItems;  // what the logic appended to the system menu
    QLabel* m_focusHint = nullptr;
    DialogHandlers* m_handlers = nullptr;
    State m_state = State::Created;
    int m_endCode = 0;
    int m_dropDownHeight = 0;       // pixels of the list template item, dropped list included
    QPainter* m_painter = nullptr;  // set while the window paints
    QEventLoop* m_loop = nullptr;   // the dialog's loop while it runs
};

}  // namespace qtui
