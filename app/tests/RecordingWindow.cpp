#include "app/tests/RecordingWindow.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/Resource.h"
#include "app/StringTable.h"

RecordingWindow::RecordingWindow() : m_caption(TEXT_INITIAL_CAPTION) {
    for (int id = IDC_VOLTAGE_IN; id <= IDC_IO_BUFFER; ++id) {
        m_controls[id] = Control{};
    }
    m_controls[IDC_PARAM_LIST].isList = true;
    m_controls[IDC_UNIT_LABEL].text = "[---]";
    m_controls[IDC_SEND].text = "Send";
    m_controls[IDC_AUTO_REFRESH].isCheckBox = true;
    m_controls[IDC_AUTO_REFRESH].text = "Auto refresh";
}

void RecordingWindow::checkAlive(const char* operation) const {
    if (m_destroyed) {
        ADD_FAILURE() << operation << " on a destroyed window";
    }
}

RecordingWindow::Control* RecordingWindow::find(int id, const char* operation) {
    checkAlive(operation);
    auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        ADD_FAILURE() << operation << " on control " << id << ", which the window does not have";
        return nullptr;
    }
    return &it->second;
}

const RecordingWindow::Control* RecordingWindow::find(int id, const char* operation) const {
    return const_cast<RecordingWindow*>(this)->find(id, operation);
}

RecordingWindow::Control* RecordingWindow::findList(int id, const char* operation) {
    Control* control = find(id, operation);
    if (control != nullptr && !control->isList) {
        ADD_FAILURE() << operation << " on control " << id << ", which is not a list";
        return nullptr;
    }
    return control;
}

const RecordingWindow::Control* RecordingWindow::findList(int id, const char* operation) const {
    return const_cast<RecordingWindow*>(this)->findList(id, operation);
}

const RecordingWindow::Control& RecordingWindow::control(int id) const {
    // Looking is allowed after destruction too: it is what the user last saw.
    static const Control none;
    auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        ADD_FAILURE() << "control(" << id << "): the window has no such control";
        return none;
    }
    return it->second;
}

int RecordingWindow::doModal(DialogHandlers& handlers) {
    if (m_opened) {
        return -1;  // a window runs one dialog only
    }
    open(handlers);
    if (m_session && !m_ended) {
        m_session(*this);
    }
    if (!m_ended) {
        endDialog(DIALOG_CANCEL);
    }
    destroy();
    return m_endCode;
}

bool RecordingWindow::open(DialogHandlers& handlers) {
    if (m_opened) {
        ADD_FAILURE() << "window opened twice";
    }
    m_opened = true;
    m_handlers = &handlers;
    const bool result = handlers.OnInitDialog();
    m_shown = true;
    return result;
}

void RecordingWindow::destroy() {
    if (m_destroyed || !m_opened) {
        ADD_FAILURE() << "window destroyed twice or never opened";
        return;
    }
    m_handlers->OnDestroy();
    m_destroyed = true;
    m_shown = false;
    // Timers end with the window.
    m_timers.clear();
}

void RecordingWindow::endDialog(int code) {
    checkAlive("endDialog");
    if (m_ended) {
        ADD_FAILURE() << "endDialog(" << code << ") after endDialog(" << m_endCode << ")";
        return;
    }
    m_ended = true;
    m_endCode = code;
}

bool RecordingWindow::running() const {
    return m_opened && !m_ended && !m_destroyed;
}

int RecordingWindow::addListItem(int control, const std::string& text) {
    Control* list = findList(control, "addListItem");
    if (list == nullptr) {
        return -1;
    }
    list->items.push_back(text);
    list->itemData.push_back(0);
    return static_cast<int>(list->items.size()) - 1;
}

int RecordingWindow::listCount(int control) const {
    const Control* list = findList(control, "listCount");
    return list != nullptr ? static_cast<int>(list->items.size()) : 0;
}

void RecordingWindow::setListItemData(int control, int index, std::int32_t data) {
    Control* list = findList(control, "setListItemData");
    if (list == nullptr) {
        return;
    }
    if (index < 0 || index >= static_cast<int>(list->items.size())) {
        ADD_FAILURE() << "setListItemData for item " << index << " of " << list->items.size();
        return;
    }
    list->itemData[static_cast<std::size_t>(index)] = data;
}

std::int32_t RecordingWindow::listItemData(int control, int index) const {
    const Control* list = findList(control, "listItemData");
    if (list == nullptr) {
        return -1;
    }
    if (index < 0 || index >= static_cast<int>(list->items.size())) {
        return -1;  // as a Windows list answers
    }
    return list->itemData[static_cast<std::size_t>(index)];
}

void RecordingWindow::setListSelection(int control, int index) {
    Control* list = findList(control, "setListSelection");
    if (list == nullptr) {
        return;
    }
    // An index outside the list clears the selection, as a Windows list does.
    list->selection = index >= 0 && index < static_cast<int>(list->items.size()) ? index : -1;
}

int RecordingWindow::listSelection(int control) const {
    const Control* list = findList(control, "listSelection");
    return list != nullptr ? list->selection : -1;
}

void RecordingWindow::enableControl(int control, bool enabled) {
    if (Control* found = find(control, "enableControl")) {
        found->enabled = enabled;
    }
}

void RecordingWindow::setControlText(int control, const std::string& text) {
    Control* found = find(control, "setControlText");
    if (found == nullptr) {
        return;
    }
    // A drop-down list's text is its selection's; setting it changes nothing.
    if (!found->isList) {
        found->text = text;
        ++found->textWrites;
    }
}

std::string RecordingWindow::controlText(int control) const {
    const Control* found = find(control, "controlText");
    if (found == nullptr) {
        return {};
    }
    if (found->isList) {
        return found->selection < 0 ? std::string()
                                    : found->items[static_cast<std::size_t>(found->selection)];
    }
    return found->text;
}

void RecordingWindow::setCheck(int control, bool checked) {
    Control* found = find(control, "setCheck");
    if (found == nullptr) {
        return;
    }
    if (!found->isCheckBox) {
        ADD_FAILURE() << "setCheck on control " << control << ", which is not a check box";
        return;
    }
    found->checked = checked;
}

bool RecordingWindow::isChecked(int control) const {
    const Control* found = find(control, "isChecked");
    if (found != nullptr && !found->isCheckBox) {
        ADD_FAILURE() << "isChecked on control " << control << ", which is not a check box";
    }
    return found != nullptr && found->checked;
}

void RecordingWindow::setCaption(const std::string& text) {
    checkAlive("setCaption");
    m_caption = text;
    ++m_captionWrites;
}

unsigned RecordingWindow::setTimer(unsigned id, unsigned periodMs) {
    checkAlive("setTimer");
    if (id == 0) {
        return 0;  // id 0 makes no timer
    }
    m_timers[id] = periodMs;
    return id;
}

void RecordingWindow::killTimer(unsigned id) {
    checkAlive("killTimer");
    m_killed.push_back(id);
    m_timers.erase(id);
}

void RecordingWindow::messageBox(const std::string& text) {
    checkAlive("messageBox");
    ++m_boxDepth;
    m_boxes.push_back({text, m_shown, m_boxDepth});
    if (m_boxHandler) {
        m_boxHandler(text);
    }
    --m_boxDepth;
}

void RecordingWindow::moveWindow(const Rect& rect) {
    checkAlive("moveWindow");
    m_rect = rect;
    m_moves.push_back(rect);
}

void RecordingWindow::appendSystemMenuSeparator() {
    checkAlive("appendSystemMenuSeparator");
    m_menu.push_back({true, 0, {}});
}

void RecordingWindow::appendSystemMenuItem(unsigned id, const std::string& text) {
    checkAlive("appendSystemMenuItem");
    m_menu.push_back({false, id, text});
}

void RecordingWindow::setIcon(int iconResource) {
    checkAlive("setIcon");
    m_icon = iconResource;
}

void RecordingWindow::showAboutBox() {
    checkAlive("showAboutBox");
    ++m_aboutBoxes;
}

void RecordingWindow::drawIcon(int x, int y) {
    checkAlive("drawIcon");
    m_drawnIcons.emplace_back(x, y);
}

std::vector<std::string> RecordingWindow::messageBoxTexts() const {
    std::vector<std::string> texts;
    for (const MessageBox& box : m_boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

bool RecordingWindow::tick(unsigned id) {
    if (!running() || m_timers.count(id) == 0) {
        return false;
    }
    m_handlers->OnTimer(id);
    return true;
}

// The user's actions reach only the window itself, never through an open message box.
bool RecordingWindow::userSelects(int index) {
    Control& list = m_controls[IDC_PARAM_LIST];
    if (!running() || m_boxDepth > 0 || !list.enabled || index < 0 ||
        index >= static_cast<int>(list.items.size())) {
        return false;
    }
    // The platform notifies only a change the user made.
    const bool changed = list.selection != index;
    list.selection = index;
    if (changed) {
        m_handlers->OnParamSelChange();
    }
    return true;
}

bool RecordingWindow::userTypes(const std::string& text) {
    Control& edit = m_controls[IDC_VALUE_EDIT];
    if (!running() || m_boxDepth > 0 || !edit.enabled) {
        return false;
    }
    edit.text = text;
    return true;
}

bool RecordingWindow::userClicksSend() {
    if (!running() || m_boxDepth > 0 || !m_controls[IDC_SEND].enabled) {
        return false;
    }
    m_handlers->OnSendClicked();
    return true;
}

bool RecordingWindow::userPressesEnter() {
    // Send is the default button.
    return userClicksSend();
}

bool RecordingWindow::userClicksAutoRefresh() {
    Control& box = m_controls[IDC_AUTO_REFRESH];
    if (!running() || m_boxDepth > 0 || !box.enabled) {
        return false;
    }
    box.checked = !box.checked;
    m_handlers->OnAutoRefreshClicked();
    return true;
}

bool RecordingWindow::isControlInView(int control) const {
    find(control, "isControlInView");
    return m_moves.empty() ||
           std::find(m_outOfView.begin(), m_outOfView.end(), control) == m_outOfView.end();
}

bool RecordingWindow::userFocuses(int id) {
    if (!running() || m_boxDepth > 0 || (id != 0 && !control(id).enabled)) {
        return false;
    }
    m_handlers->OnFocusChange(id);
    return true;
}

bool RecordingWindow::userPressesEscape() {
    if (!running() || m_boxDepth > 0) {
        return false;
    }
    endDialog(DIALOG_CANCEL);
    return true;
}

bool RecordingWindow::userChoosesSystemCommand(unsigned id) {
    if (!running() || m_boxDepth > 0) {
        return false;
    }
    m_handlers->OnSysCommand(id);
    return true;
}

bool RecordingWindow::paint() {
    if (!m_opened || m_destroyed) {
        return false;
    }
    m_handlers->OnPaint();
    return true;
}
