#include "qt/QtDialogWindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "app/DialogTemplate.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "qt/AboutDialog.h"
#include "qt/Cp1252.h"
#include "qt/DialogBuilder.h"
#include "qt/DialogUnits.h"
#include "qt/Resources.h"

namespace qtui {
namespace {

constexpr int LIST_ERROR = -1;  // what a list answers for a bad index or a control that is none

constexpr int HINT_LEFT_DU = 12;  // the group captions' left edge, in dialog units

Rect toRect(const QRect& rect) {
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

}  // namespace

OstrelDialog::OstrelDialog(QtDialogWindow& owner) : QDialog(nullptr), m_owner(owner) {
    // A main window of its own: caption, system menu, minimise and close box, shown in the
    // task bar, not resizable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(false);
}

void OstrelDialog::reject() {
    m_owner.endDialog(DIALOG_CANCEL);
}

void OstrelDialog::contextMenuEvent(QContextMenuEvent* event) {
    m_owner.m_systemMenu->exec(event->globalPos());
}

void OstrelDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    m_owner.paint(painter);
}

QtDialogWindow::QtDialogWindow() : m_dialog(std::make_unique<OstrelDialog>(*this)) {
    buildControls();

    // Linux window managers offer no system menu to the application: the window's context
    // menu (right click, the menu key, or Alt+Space) stands in for it.
    m_systemMenu = new QMenu(m_dialog.get());
    m_systemMenu->addAction(QObject::tr("Mi&nimize"), m_dialog.get(), &QWidget::showMinimized);
    m_systemMenu->addAction(QObject::tr("&Close"), m_dialog.get(), &QWidget::close);
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), m_dialog.get());
    QObject::connect(shortcut, &QShortcut::activated, m_dialog.get(),
                     [this] { popupSystemMenu(QPoint(0, 0)); });

    m_focusHint = new QLabel(m_dialog.get());
    m_focusHint->setObjectName(QStringLiteral("focusHint"));
    m_focusHint->setTextFormat(Qt::PlainText);
    m_focusHint->setAutoFillBackground(true);  // over the frame line it sits on
    m_focusHint->hide();
    QObject::connect(qApp, &QApplication::focusChanged, m_dialog.get(),
                     [this](QWidget*, QWidget* now) {
                         if (DialogHandlers* handlers = activeHandlers()) {
                             handlers->OnFocusChange(controlId(now));
                         }
                     });
}

QtDialogWindow::~QtDialogWindow() {
    // The timers and the widgets are children of the dialog and go with it.
    m_timers.clear();
}

void QtDialogWindow::buildControls() {
    for (const auto& [id, widget] : buildDialog(*m_dialog, ui::mainDialogTemplate())) {
        if (id == ui::IDC_STATIC) {
            continue;
        }
        m_controls.emplace(id, widget);
        if (auto* list = qobject_cast<QComboBox*>(widget)) {
            for (const ui::TemplateItem& item : ui::mainDialogTemplate().items) {
                if (item.id == id) {
                    m_dropDownHeight = dluToPixelsY(item.cy);
                }
            }
            // Only a choice the user makes is a selection change; the program's own
            // setCurrentIndex stays silent.
            QObject::connect(list, &QComboBox::activated, m_dialog.get(), [this] {
                if (DialogHandlers* handlers = activeHandlers()) {
                    handlers->OnParamSelChange();
                }
            });
        }
    }
    for (const auto& [id, widget] : m_controls) {
        if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            // The fields' own menus (copy, select all) also lead to About: a user who
            // right-clicks a field never reaches the window's menu otherwise.
            field->setContextMenuPolicy(Qt::CustomContextMenu);
            QObject::connect(field, &QWidget::customContextMenuRequested, m_dialog.get(),
                             [this, field](const QPoint& pos) { popupFieldMenu(*field, pos); });
        }
    }
    if (auto* send = qobject_cast<QAbstractButton*>(control(IDC_SEND))) {
        QObject::connect(send, &QAbstractButton::clicked, m_dialog.get(), [this] {
            if (DialogHandlers* handlers = activeHandlers()) {
                handlers->OnSendClicked();
            }
        });
    }
    if (auto* autoRefresh = qobject_cast<QAbstractButton*>(control(IDC_AUTO_REFRESH))) {
        QObject::connect(autoRefresh, &QAbstractButton::clicked, m_dialog.get(), [this] {
            if (DialogHandlers* handlers = activeHandlers()) {
                handlers->OnAutoRefreshClicked();
            }
        });
    }
}

int QtDialogWindow::controlId(const QWidget* widget) const {
    for (const auto& [id, control] : m_controls) {
        if (control == widget) {
            return id;
        }
    }
    return 0;
}

void QtDialogWindow::popupFieldMenu(QLineEdit& field, const QPoint& pos) {
    QMenu* menu = field.createStandardContextMenu();
    if (!m_addedMenuItems.isEmpty()) {
        menu->addSeparator();
        menu->addActions(m_addedMenuItems);
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(field.mapToGlobal(pos));
}

QWidget* QtDialogWindow::control(int id) const {
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

DialogHandlers* QtDialogWindow::activeHandlers() const {
    return (m_state == State::Running || m_state == State::Ended) ? m_handlers : nullptr;
}

void QtDialogWindow::popupSystemMenu(const QPoint& pos) {
    m_systemMenu->popup(m_dialog->mapToGlobal(pos));
}

int QtDialogWindow::doModal(DialogHandlers& handlers) {
    if (m_state != State::Created) {
        return -1;  // a window runs one dialog only
    }
    m_handlers = &handlers;
    m_state = State::Running;
    const bool focusFirstTabStop = handlers.OnInitDialog();
    if (m_state == State::Running) {
        m_dialog->show();
    }
    if (m_state == State::Running && focusFirstTabStop) {
        // As a dialog manager does when the initialisation asks for it.
        for (QWidget* widget = m_dialog->nextInFocusChain(); widget != m_dialog.get();
             widget = widget->nextInFocusChain()) {
            if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled()) {
                widget->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
    if (m_state == State::Running) {
        // A loop of its own rather than QDialog::exec(): the window is the program's main
        // window, not application-modal, so other windows (the simulator's) stay usable.
        QEventLoop loop;
        m_loop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_loop = nullptr;
    }
    m_state = State::Ended;
    m_dialog->hide();
    handlers.OnDestroy();
    // The window is gone: its timers and menu deliver nothing from here on.
    m_state = State::Destroyed;
    for (auto& [id, timer] : m_timers) {
        timer->stop();
    }
    m_timers.clear();
    m_handlers = nullptr;
    return m_endCode;
}

void QtDialogWindow::endDialog(int code) {
    if (m_state != State::Running) {
        return;
    }
    m_state = State::Ended;
    m_endCode = code;
    // The loop ends once the message being handled returns.
    m_dialog->hide();
    if (m_loop != nullptr) {
        m_loop->exit(code);
    }
}

int QtDialogWindow::addListItem(int id, const std::string& text) {
    auto* list = qobject_cast<QComboBox*>(control(id));
    if (list == nullptr) {
        return LIST_ERROR;
    }
    list->addItem(fromCp1252(text), QVariant::fromValue<std::int32_t>(0));
    if (list->count() == 1 && m_dropDownHeight > 0) {
        // The template's height holds the closed list and the dropped one below it.
        const int rowHeight = std::max(1, list->view()->sizeHintForRow(0));
        const int droppedHeight = m_dropDownHeight - list->height();
        list->setMaxVisibleItems(std::max(1, droppedHeight / rowHeight));
    }
    return list->count() - 1;
}

int QtDialogWindow::listCount(int id) const {
    const auto* list = qobject_cast<const QComboBox*>(control(id));
    return list == nullptr ? 0 : list->count();
}

void QtDialogWindow::setListItemData(int id, int index, std::int32_t data) {
    auto* list = qobject_cast<QComboBox*>(control(id));
    if (list == nullptr || index < 0 || index >= list->count()) {
        return;
    }
    list->setItemData(index, QVariant::fromValue<std::int32_t>(data));
}

std::int32_t QtDialogWindow::listItemData(int id, int index) const {
    const auto* list = qobject_cast<const QComboBox*>(control(id));
    if (list == nullptr || index < 0 || index >= list->count()) {
        return LIST_ERROR;
    }
    return list->itemData(index).value<std::int32_t>();
}

void QtDialogWindow::setListSelection(int id, int index) {
    auto* list = qobject_cast<QComboBox*>(control(id));
    if (list == nullptr) {
        return;
    }
    // An index outside the list clears the selection, as a Windows list does.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

int QtDialogWindow::listSelection(int id) const {
    const auto* list = qobject_cast<const QComboBox*>(control(id));
    return list == nullptr ? LIST_ERROR : list->currentIndex();
}

void QtDialogWindow::enableControl(int id, bool enabled) {
    if (QWidget* widget = control(id)) {
        widget->setEnabled(enabled);
    }
}

void QtDialogWindow::setControlText(int id, const std::string& text) {
    QWidget* widget = control(id);
    const QString value = fromCp1252(text);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(value);
        edit->setCursorPosition(0);  // a long text shows its beginning
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(value);
        if (QWidget* field = label->buddy()) {
            field->setAccessibleName(accessibleNameFromLabel(value));
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        group->setTitle(value);
    }
    // A drop-down list has no text of its own (its text is the selection's): as on
    // Windows, setting one changes nothing.
}

std::string QtDialogWindow::controlText(int id) const {
    const QWidget* widget = control(id);
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return toCp1252(edit->text());
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return toCp1252(label->text());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return toCp1252(button->text());
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return toCp1252(group->title());
    }
    if (const auto* list = qobject_cast<const QComboBox*>(widget)) {
        return toCp1252(list->currentText());
    }
    return {};
}

void QtDialogWindow::setCheck(int id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(control(id));
        button && button->isCheckable()) {
        button->setChecked(checked);
    }
}

bool QtDialogWindow::isChecked(int id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(control(id));
    return button != nullptr && button->isCheckable() && button->isChecked();
}

void QtDialogWindow::setCaption(const std::string& text) {
    // "[*]" is Qt's placeholder for the modified mark; doubled, it shows as itself.
    m_dialog->setWindowTitle(
        fromCp1252(text).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}

unsigned QtDialogWindow::setTimer(unsigned id, unsigned periodMs) {
    if (id == 0 || m_state == State::Destroyed) {
        return 0;
    }
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        // Exact periods: the pump's first tick is what the first status waits for.
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, m_dialog.get(), [this, id] {
            if (DialogHandlers* handlers = activeHandlers()) {
                handlers->OnTimer(id);
            }
        });
    }
    // Setting a running timer again restarts it with the new period.
    timer->start(static_cast<int>(std::min<unsigned>(periodMs, INT32_MAX)));
    return id;
}

void QtDialogWindow::killTimer(unsigned id) {
    const auto found = m_timers.find(id);
    if (found == m_timers.end()) {
        return;
    }
    // The timer may be the one whose tick is running right now: stop it at once, free it
    // once that tick has returned.
    QTimer* timer = found->second.release();
    m_timers.erase(found);
    timer->stop();
    timer->setParent(m_dialog.get());  // freed with the window if no loop runs again
    timer->deleteLater();
}

void QtDialogWindow::messageBox(const std::string& text) {
    // Owned by the window once it shows; before that ("Device not found") it stands alone,
    // placed by the window system rather than over a window nobody sees yet.
    QWidget* owner = m_dialog->isVisible() ? m_dialog.get() : nullptr;
    QMessageBox box(QMessageBox::NoIcon, fromCp1252(TEXT_MESSAGE_BOX_CAPTION), fromCp1252(text),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setFont(dialogFont());
    // Modal to the window that owns it, as on Windows: the simulator's window stays usable.
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

Rect QtDialogWindow::windowRect() const {
    return toRect(m_dialog->frameGeometry());
}

void QtDialogWindow::moveWindow(const Rect& rect) {
    const QRect frame = m_dialog->frameGeometry();
    const QRect client = m_dialog->geometry();
    const int width = std::max(0, rect.width() - (frame.width() - client.width()));
    const int height = std::max(0, rect.height() - (frame.height() - client.height()));
    // An unmoved window keeps the place the window manager gives it when it is shown.
    if (QPoint(rect.left, rect.top) != frame.topLeft()) {
        m_dialog->move(rect.left, rect.top);
    }
    m_dialog->setFixedSize(width, height);
    m_dialog->update();
}

bool QtDialogWindow::isControlInView(int id) const {
    const QWidget* widget = control(id);
    return widget != nullptr && m_dialog->rect().contains(widget->geometry());
}

void QtDialogWindow::showFocusHint(const std::string& text) {
    if (text.empty()) {
        m_focusHint->hide();
        return;
    }
    m_focusHint->setText(fromCp1252(text));
    m_focusHint->adjustSize();
    // On the window's lower edge, in line with the group boxes' captions.
    const int x = dluToPixelsX(HINT_LEFT_DU);
    m_focusHint->move(x, m_dialog->height() - m_focusHint->height());
    m_focusHint->raise();
    m_focusHint->show();
}

bool QtDialogWindow::hasSystemMenu() const {
    return true;
}

void QtDialogWindow::appendSystemMenuSeparator() {
    m_systemMenu->addSeparator();
}

void QtDialogWindow::appendSystemMenuItem(unsigned id, const std::string& text) {
    QAction* action = m_systemMenu->addAction(fromCp1252(text));
    m_addedMenuItems.append(action);
    QObject::connect(action, &QAction::triggered, m_dialog.get(), [this, id] {
        if (DialogHandlers* handlers = activeHandlers()) {
            handlers->OnSysCommand(id);
        }
    });
}

void QtDialogWindow::setIcon(int iconResource) {
    const QIcon icon = resourceIcon(iconResource);
    if (!icon.isNull()) {
        m_dialog->setWindowIcon(icon);
    }
}

void QtDialogWindow::showAboutBox() {
    AboutDialog about(m_dialog.get());
    about.setWindowModality(Qt::WindowModal);
    about.exec();
}

bool QtDialogWindow::isIconic() const {
    return m_dialog->isMinimized();
}

Rect QtDialogWindow::clientRect() const {
    return toRect(m_dialog->rect());
}

int QtDialogWindow::iconWidth() const {
    return m_dialog->style()->pixelMetric(QStyle::PM_LargeIconSize);
}

int QtDialogWindow::iconHeight() const {
    return m_dialog->style()->pixelMetric(QStyle::PM_LargeIconSize);
}

void QtDialogWindow::drawIcon(int x, int y) {
    // Only meaningful while the window paints, as a device context is.
    if (m_painter == nullptr) {
        return;
    }
    m_painter->drawPixmap(x, y, m_dialog->windowIcon().pixmap(iconWidth(), iconHeight()));
}

void QtDialogWindow::paint(QPainter& painter) {
    DialogHandlers* handlers = activeHandlers();
    if (handlers == nullptr) {
        return;
    }
    m_painter = &painter;
    handlers->OnPaint();
    m_painter = nullptr;
}

}  // namespace qtui
