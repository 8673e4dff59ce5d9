#include "app/COstrelDlg.h"

#include <array>
#include <cstdio>
#include <optional>
#include <utility>

#include "app/DialogTemplate.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "core/texts/OutsideText.h"
#include "core/texts/StatusText.h"
#include "device/HIDDevices.h"
#include "device/Wire.h"
#include "params/Cp1252.h"
#include "params/StrictValue.h"
#include "params/ValueCodec.h"

namespace {

constexpr std::array BINDINGS{
    ControlBinding{IDC_VOLTAGE_IN, Exchange::Text, &StatusView::m_voltageIn},
    ControlBinding{IDC_IGNITION, Exchange::Text, &StatusView::m_ignition},
    ControlBinding{IDC_TEMPERATURE, Exchange::Text, &StatusView::m_temperature},
    ControlBinding{IDC_VOLTAGE_3V, Exchange::Text, &StatusView::m_voltage3V},
    ControlBinding{IDC_VOLTAGE_5V, Exchange::Text, &StatusView::m_voltage5V},
    ControlBinding{IDC_VOLTAGE_12V, Exchange::Text, &StatusView::m_voltage12V},
    ControlBinding{IDC_STATE, Exchange::Text, &StatusView::m_state},
    ControlBinding{IDC_VOLTAGE_FLAGS, Exchange::Text, &StatusView::m_voltageFlags},
    ControlBinding{IDC_STATUS_FLAGS1, Exchange::Text, &StatusView::m_statusFlags1},
    ControlBinding{IDC_STATUS_FLAGS2, Exchange::Text, &StatusView::m_statusFlags2},
    ControlBinding{IDC_TIMER_FLAGS, Exchange::Text, &StatusView::m_timerFlags},
    ControlBinding{IDC_INPUT_FLAGS, Exchange::Text, &StatusView::m_inputFlags},
    ControlBinding{IDC_OUTPUT_FLAGS, Exchange::Text, &StatusView::m_outputFlags},
    ControlBinding{IDC_PARAM_LIST, Exchange::Attach, nullptr},
    ControlBinding{IDC_VALUE_EDIT, Exchange::Attach, nullptr},
    ControlBinding{IDC_UNIT_LABEL, Exchange::Attach, nullptr},
    ControlBinding{IDC_DESCRIPTION, Exchange::Attach, nullptr},
    ControlBinding{IDC_AUTO_REFRESH, Exchange::Check, nullptr},
    ControlBinding{IDC_STATUS_HISTORY, Exchange::Text, &StatusView::m_statusHistory},
    ControlBinding{IDC_IO_BUFFER, Exchange::Text, &StatusView::m_ioBuffer},
};

constexpr std::uint32_t NO_TIMER = 0xFFFFFFFFu;

// How our command line names the window when it finds the controller claimed.
constexpr const char* CLAIM_PROGRAM = "ostrel";

// The text of the label that names `control` in the main template, or the empty text.
std::string labelOf(int control) {
    for (const ui::TemplateItem& item : ui::mainDialogTemplate().items) {
        if (item.buddy == control) {
            return item.text;
        }
    }
    return {};
}

}  // namespace

IconPosition iconPosition(const Rect& client, int iconWidth, int iconHeight) {
    return {(client.width() - iconWidth + 1) / 2, (client.height() - iconHeight + 1) / 2};
}

COstrelDlg::COstrelDlg(const Environment& environment)
    : m_platform(environment.platform),
      m_table(environment.table),
      m_window(environment.window),
      m_diagnostics(environment.diagnostics),
      m_strings(environment.strings != nullptr ? environment.strings : &loadStringResource),
      m_hIcon(IDR_MAINFRAME) {}

COstrelDlg::~COstrelDlg() {
    // Normally OnDestroy has released the device already; a window that never ran the
    // dialog to its end must still not leave the reader thread running.
    releaseDevice();
}

std::span<const ControlBinding> COstrelDlg::controlBindings() {
    return BINDINGS;
}

bool COstrelDlg::UpdateData(bool saveAndValidate) {
    for (const ControlBinding& binding : BINDINGS) {
        switch (binding.exchange) {
            case Exchange::Text:
                if (saveAndValidate) {
                    m_status.*binding.text = m_window.controlText(binding.control);
                } else if (m_window.controlText(binding.control) != m_status.*binding.text) {
                    // As the framework's data exchange does: an unchanged text is not set
                    // again, so the refresh five times a second neither repaints nor
                    // scrolls a field back.
                    m_window.setControlText(binding.control, m_status.*binding.text);
                }
                break;
            case Exchange::Check:
                if (saveAndValidate) {
                    m_autoRefresh = m_window.isChecked(binding.control) ? 1 : 0;
                } else {
                    m_window.setCheck(binding.control, m_autoRefresh != 0);
                }
                break;
            case Exchange::Attach:
                break;
        }
    }
    return true;
}

bool COstrelDlg::OnInitDialog() {
    UpdateData(false);

    if (m_window.hasSystemMenu()) {
        const std::string about = m_strings(IDS_ABOUTBOX);
        if (!about.empty()) {
            m_window.appendSystemMenuSeparator();
            m_window.appendSystemMenuItem(IDM_ABOUTBOX, about);
        }
    }
    m_window.setIcon(m_hIcon);

    m_pumpTimerId = NO_TIMER;
    m_pollTimerId = NO_TIMER;

    const int placeholder = m_window.addListItem(IDC_PARAM_LIST, TEXT_PLACEHOLDER_ITEM);
    m_window.setListItemData(IDC_PARAM_LIST, placeholder, PLACEHOLDER_ITEM_DATA);
    for (int index : m_table.offeredRows()) {
        const int item = m_window.addListItem(IDC_PARAM_LIST, m_table.row(index).name);
        m_window.setListItemData(IDC_PARAM_LIST, item, index);
    }
    m_window.setListSelection(IDC_PARAM_LIST, 0);
    m_window.enableControl(IDC_VALUE_EDIT, false);
    m_window.enableControl(IDC_PARAM_LIST, false);

    HIDDevices devices(m_platform, m_diagnostics);
    std::unique_ptr<HIDDescriptor> descriptor = findOstrel(devices);

    if (descriptor) {
        m_channel = createChannel(m_platform, std::move(descriptor));
        if (m_channel) {
            m_deviceInterface = createDeviceInterface(*m_channel);
            m_devicePath = m_channel->descriptor().path;
        }
    }
    if (m_deviceInterface) {
        claimDevice();
        m_pumpTimerId = m_window.setTimer(TIMER_PUMP, TIMER_PUMP_PERIOD_MS);
        m_pollTimerId = m_window.setTimer(TIMER_POLL, TIMER_POLL_PERIOD_MS);
        m_deviceInterface->sendCommand(CMD_STATUS);
        m_window.enableControl(IDC_VALUE_EDIT, false);
        m_window.enableControl(IDC_PARAM_LIST, m_inUseBy.empty());
    } else {
        releaseDevice();
        m_window.messageBox(TEXT_DEVICE_NOT_FOUND);
    }

    // Only the voltage group and "Options" stay in view; the rows below still exist and
    // are still updated.
    Rect rect = m_window.windowRect();
    rect.bottom -= WINDOW_HEIGHT_CUT;
    m_window.moveWindow(rect);
    return true;
}

void COstrelDlg::OnTimer(unsigned timerId) {
    if (!m_deviceInterface) {
        return;
    }
    if (timerId == TIMER_PUMP) {
        // A dispatch may open a message box whose nested loop runs this pump again, so the
        // interface is looked up afresh for every report.
        while (m_deviceInterface) {
            std::unique_ptr<HArray> report = m_deviceInterface->popReport();
            if (!report) {
                break;
            }
            DispatchReport(*report);
        }
        UpdateData(false);
        updateFocusHint();
    } else if (timerId == TIMER_POLL) {
        if (!m_claim) {
            claimDevice();  // another program of ours had it; it may be free by now
        }
        if (m_autoRefresh != 0) {
            m_deviceInterface->sendCommand(CMD_STATUS);
        }
    }
}

void COstrelDlg::DispatchReport(const HArray& report) {
    const std::span<const std::uint8_t> bytes = report.bytes();
    switch (classifyReport(bytes)) {
        case ReportKind::Status:
            showStatus(bytes);
            break;
        case ReportKind::Param:
            showParam(bytes);
            break;
        case ReportKind::History:
            showHistory(bytes);
            break;
        case ReportKind::Event:
            handleEvent(bytes);
            break;
        case ReportKind::Ignored:
            break;
    }
}

void COstrelDlg::showStatus(std::span<const std::uint8_t> report) {
    const StatusReport status = decodeStatusReport(report);

    // Before the voltages: a version-2 controller's first report already uses its factors.
    m_table.applyFirmwareVersion(status.version);

    formatStatusFields(m_table, status, m_status);

    UpdateData(false);
    // As the fields: an unchanged caption is not set again. Every setting repaints the
    // window's frame, once a second for as long as the program runs.
    std::string caption = formatCaption(status);
    if (caption != m_caption) {
        m_caption = std::move(caption);
        m_window.setCaption(m_caption);
    }
}

void COstrelDlg::showParam(std::span<const std::uint8_t> report) {
    const ParamReport param = decodeParamReport(report);
    // Another program's reads bring these too; they must not choose the row the user's
    // next Send writes.
    if (!m_paramReportsOurs) {
        if (param.address != m_firstRead) {
            return;
        }
        m_paramReportsOurs = true;
    }

    // Item 0 is the placeholder and never matches.
    const int count = m_window.listCount(IDC_PARAM_LIST);
    for (int item = 1; item < count; ++item) {
        const ParamDef* row = rowOfItem(item);
        if (row == nullptr || static_cast<std::uint8_t>(row->address & 0xFF) != param.address) {
            continue;
        }
        // The program's own selection: no read request. The labels go with the row, so
        // that the list never shows one parameter with another's description and unit.
        m_window.setListSelection(IDC_PARAM_LIST, item);
        m_window.setControlText(IDC_DESCRIPTION, row->description);
        m_window.setControlText(IDC_UNIT_LABEL, row->unit);
        m_window.setControlText(IDC_VALUE_EDIT, decodeParamValue(*row, param.first, param.second));
        if (row->listed != 0) {
            m_window.enableControl(IDC_VALUE_EDIT, true);
        }
        return;
    }
}

void COstrelDlg::showHistory(std::span<const std::uint8_t> report) {
    m_status.m_statusHistory = formatHistoryLine(decodeHistoryReport(report));
    UpdateData(false);
}

void COstrelDlg::handleEvent(std::span<const std::uint8_t> report) {
    if (decodeEventReport(report).code != EVENT_DISCONNECTED) {
        return;
    }
    // The box runs a nested loop in which the pump keeps dispatching; a second disconnect
    // report arriving there (the controller may send FF 01 itself) must not stack a
    // second box or end the dialog twice.
    if (m_disconnectHandled) {
        return;
    }
    m_disconnectHandled = true;
    m_window.messageBox(TEXT_DEVICE_DISCONNECTED);
    m_window.endDialog(0);
}

const ParamDef* COstrelDlg::rowOfItem(int item) const {
    // The handlers take the low 8 bits of the item data as the row index; anything past
    // the table is not ours and selects nothing.
    const std::int32_t data = m_window.listItemData(IDC_PARAM_LIST, item);
    const int index = static_cast<int>(data & 0xFF);
    if (index >= m_table.rowCount()) {
        return nullptr;
    }
    return &m_table.row(index);
}

void COstrelDlg::OnParamSelChange() {
    const int selection = m_window.listSelection(IDC_PARAM_LIST);
    // The list is disabled while the controller is in use; a choice that still arrives
    // sends nothing.
    if (selection < 0 || !m_inUseBy.empty()) {
        return;
    }
    if (selection == 0) {
        m_window.setControlText(IDC_DESCRIPTION, "");
        m_window.setControlText(IDC_UNIT_LABEL, TEXT_NO_UNIT);
    } else if (const ParamDef* row = rowOfItem(selection)) {
        m_window.setControlText(IDC_DESCRIPTION, row->description);
        m_window.setControlText(IDC_UNIT_LABEL, row->unit);
        if (m_deviceInterface) {
            m_deviceInterface->sendParam(row->size, static_cast<std::uint8_t>(row->address & 0xFF),
                                         false, 0, 0);
            if (!m_paramReportsOurs) {
                m_firstRead = row->address & 0xFF;
            }
        }
    }
    m_window.setControlText(IDC_VALUE_EDIT, "");
    m_window.enableControl(IDC_VALUE_EDIT, false);
}

void COstrelDlg::OnSendClicked() {
    const std::string text = m_window.controlText(IDC_VALUE_EDIT);
    const int selection = m_window.listSelection(IDC_PARAM_LIST);
    if (selection <= 0 || !m_inUseBy.empty()) {
        return;
    }
    const ParamDef* row = rowOfItem(selection);
    if (row == nullptr || row->size == 0) {
        return;
    }
    // As strictly as ostrelctl: the codec alone would write 255 for "300" and 0 for "abc".
    // The factory reset takes no value; its frame carries 0xFF whatever the edit holds.
    const std::optional<EncodedValue> value =
        row->kind == PK_ACTION ? encodeParamValue(*row, text)
                               : parseStrictValue(*row, cp1252::toUtf8(text)).value;
    if (!value) {
        m_window.messageBox(TEXT_INVALID_VALUE);
        return;
    }
    // Without a device the list is disabled and nothing can be selected; there is nobody
    // to send to either way.
    if (m_deviceInterface) {
        m_deviceInterface->sendParam(row->size, static_cast<std::uint8_t>(row->address & 0xFF),
                                     true, value->high, value->low);
    }
}

void COstrelDlg::OnAutoRefreshClicked() {
    UpdateData(true);
    updateFocusHint();
}

void COstrelDlg::OnFocusChange(int control) {
    m_focus = control;
    updateFocusHint();
}

void COstrelDlg::updateFocusHint() {
    // The rows below the window's edge stay reachable with Tab; a keyboard user must still
    // see where the focus went and what a Space there would change.
    std::string hint;
    if (m_focus > 0 && !m_window.isControlInView(m_focus)) {
        if (m_focus == IDC_AUTO_REFRESH) {
            hint = m_window.controlText(m_focus) + ": " +
                   (m_window.isChecked(m_focus) ? TEXT_HINT_ON : TEXT_HINT_OFF);
        } else {
            hint = labelOf(m_focus) + " " + m_window.controlText(m_focus);
        }
    }
    if (hint != m_focusHint) {
        m_focusHint = hint;
        m_window.showFocusHint(hint);
    }
}

void COstrelDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0u) == IDM_ABOUTBOX) {
        m_window.showAboutBox();
    }
    // Every other system command is the window's own business.
}

void COstrelDlg::OnPaint() {
    if (!m_window.isIconic()) {
        return;
    }
    const IconPosition at =
        iconPosition(m_window.clientRect(), m_window.iconWidth(), m_window.iconHeight());
    m_window.drawIcon(at.x, at.y);
}

void COstrelDlg::OnDestroy() {
    if (m_deviceInterface) {
        // The pump timer ends with the window and does nothing once the interface is gone.
        m_window.killTimer(m_pollTimerId);
    }
    releaseDevice();
}

void COstrelDlg::releaseDevice() {
    // The interface first: its destructor detaches from the channel and drops the reports
    // still queued. Then the channel: it stops the reader and closes the device.
    std::unique_ptr<HIDOstrel> deviceInterface = std::move(m_deviceInterface);
    std::unique_ptr<HIDDevice> channel = std::move(m_channel);
    deviceInterface.reset();
    channel.reset();
    m_claim.reset();
}

void COstrelDlg::claimDevice() {
    platform::ClaimResult result = m_platform.claim(m_devicePath.c_str(), CLAIM_PROGRAM);
    m_claim = std::move(result.claim);
    // Only a holder keeps the editor off. A claim the system cannot take at all names
    // nobody; the window then works as it would without claims and tries again each tick.
    std::string inUseBy;
    if (result.status == platform::ClaimStatus::Busy) {
        inUseBy = cp1252::fromUtf8(TEXT_IN_USE_BY + holderText(result.holder));
    }
    if (inUseBy != m_inUseBy) {
        m_inUseBy = std::move(inUseBy);
        resetEditor();
    }
}

void COstrelDlg::resetEditor() {
    const bool usable = m_inUseBy.empty();
    m_window.setListSelection(IDC_PARAM_LIST, 0);
    m_window.setControlText(IDC_DESCRIPTION, m_inUseBy);
    m_window.setControlText(IDC_UNIT_LABEL, TEXT_NO_UNIT);
    m_window.setControlText(IDC_VALUE_EDIT, "");
    m_window.enableControl(IDC_VALUE_EDIT, false);
    m_window.enableControl(IDC_PARAM_LIST, usable);
    m_window.enableControl(IDC_SEND, usable);
    m_paramReportsOurs = false;
    m_firstRead = -1;
}

std::unique_ptr<HIDDevice> COstrelDlg::createChannel(platform::HidPlatform& platform,
                                                     std::unique_ptr<HIDDescriptor> descriptor) {
    return std::make_unique<HIDDevice>(platform, std::move(descriptor));
}

std::unique_ptr<HIDOstrel> COstrelDlg::createDeviceInterface(HIDDevice& channel) {
    return std::make_unique<HIDOstrel>(&channel);
}
