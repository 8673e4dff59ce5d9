// The main window's logic: start-up of the device, the report pump, the status panel and
// the parameter editor. Written against DialogWindow; every decision about which text goes
// into which control and which frame goes out when is made here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "app/DialogWindow.h"
#include "core/texts/StatusText.h"
#include "device/HArray.h"
#include "device/HIDDescriptor.h"
#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "params/ParamTable.h"
#include "platform/HidPlatform.h"

enum class Exchange {
    Text,    // a StatusView string <-> the control's text
    Check,   // m_autoRefresh <-> the check box (0 off, 1 on)
    Attach,  // the control is driven by the handlers only; no data either way
};

struct ControlBinding {
    int control;
    Exchange exchange;
    std::string StatusView::*text;  // set for Exchange::Text only
};

struct IconPosition {
    int x;
    int y;
    bool operator==(const IconPosition&) const = default;
};
// Where the minimised window draws its icon: centred in the client area.
IconPosition iconPosition(const Rect& client, int iconWidth, int iconHeight);

class COstrelDlg : public DialogHandlers {
public:
    using StringLoader = std::string (*)(int id);

    // What the window needs from outside; all of it outlives the dialog.
    struct Environment {
        platform::HidPlatform& platform;
        ParamTable& table;
        DialogWindow& window;
        std::FILE* diagnostics;  // the device search's lines
        StringLoader strings;    // the string resources
    };

    explicit COstrelDlg(const Environment& environment);
    COstrelDlg(const COstrelDlg&) = delete;
    COstrelDlg& operator=(const COstrelDlg&) = delete;
    ~COstrelDlg() override;

    bool OnInitDialog() override;
    void OnTimer(unsigned timerId) override;
    void OnParamSelChange() override;
    void OnSendClicked() override;
    void OnAutoRefreshClicked() override;
    void OnSysCommand(unsigned id) override;
    void OnPaint() override;
    void OnDestroy() override;
    void OnFocusChange(int control) override;

    // Handles one report; the caller keeps it.
    void DispatchReport(const HArray& report);

    // Runs the control bindings: true copies the controls into the members, false the
    // members into the controls.
    bool UpdateData(bool saveAndValidate);

    // The bindings in the order they are processed.
    static std::span<const ControlBinding> controlBindings();

    const StatusView& statusView() const { return m_status; }
    std::int32_t autoRefresh() const { return m_autoRefresh; }
    bool hasDevice() const { return m_deviceInterface != nullptr; }
    unsigned pumpTimerId() const { return m_pumpTimerId; }
    unsigned pollTimerId() const { return m_pollTimerId; }

protected:
    // The channel and the device interface are made here so that a test can watch their
    // lifetimes. The channel takes over the descriptor; the interface attaches to `channel`.
    virtual std::unique_ptr<HIDDevice> createChannel(platform::HidPlatform& platform,
                                                     std::unique_ptr<HIDDescriptor> descriptor);
    virtual std::unique_ptr<HIDOstrel> createDeviceInterface(HIDDevice& channel);

private:
    void showStatus(std::span<const std::uint8_t> report);
    void showParam(std::span<const std::uint8_t> report);
    void showHistory(std::span<const std::uint8_t> report);
    void handleEvent(std::span<const std::uint8_t> report);
    const ParamDef* rowOfItem(int item) const;
    // Tells which control has the focus while it lies below the window's edge.
    void updateFocusHint();
    void releaseDevice();
    // Takes the claim of the open controller when it is free; the window never waits for
    // it. While another program of ours holds it, the editor is off (see m_inUseBy).
    void claimDevice();
    // The editor as at start: placeholder, empty value; usable unless the controller is in
    // use by another program of ours, whose holder the description then names.
    void resetEditor();

    platform::HidPlatform& m_platform;
    ParamTable& m_table;
    DialogWindow& m_window;
    std::FILE* m_diagnostics;
    StringLoader m_strings;

    // Declared before the interface so that even the implicit member destruction deletes
    // the interface (which detaches from the channel) before the channel.
    std::unique_ptr<HIDDevice> m_channel;
    std::unique_ptr<HIDOstrel> m_deviceInterface;
    // Keeps our other programs off the controller while the window talks to it; taken
    // after opening, released after the channel.
    std::string m_devicePath;
    std::unique_ptr<platform::HidClaim> m_claim;
    // "In use by ostrelctl (pid 4711)" while another program of ours holds the controller:
    // its answers reach our channel too, and a write now would race its work. Empty when
    // it is free, and when the system cannot take claims at all (then nobody holds one).
    std::string m_inUseBy;
    // Whether parameter reports may change the editor: not while another program of ours
    // holds the controller, and after that not until the answer to the window's own first
    // read (m_firstRead, its address once sent), since the holder's last answers may still
    // be on their way.
    bool m_paramReportsOurs = true;
    int m_firstRead = -1;
    std::uint32_t m_pumpTimerId = 0xFFFFFFFFu;
    std::uint32_t m_pollTimerId = 0xFFFFFFFFu;
    int m_hIcon;
    StatusView m_status;
    std::int32_t m_autoRefresh = 1;
    // Set once the disconnect message has been shown (or is showing): a nested timer tick
    // during that box must not show it again.
    bool m_disconnectHandled = false;
    int m_focus = 0;  // the control with the keyboard focus
    std::string m_focusHint;
    std::string m_caption;  // the last caption set; empty until the first status
};
