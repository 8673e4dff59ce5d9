#include "app/DialogTemplate.h"

#include <array>
#include <string_view>

#include "app/Resource.h"
#include "app/StringTable.h"
#include "core/readings/StatusFields.h"

namespace ui {
namespace {

using K = ItemKind;

// The status fields' labels and units are the table's, which every other reader of a status
// prints: the window and ostrelctl cannot name a field two ways.
consteval const char* label(std::string_view key) {
    return ctl::statusField(key).label;
}
consteval const char* unit(std::string_view key) {
    return ctl::statusField(key).unit;
}

constexpr std::array MAIN_ITEMS = {
    TemplateItem{IDC_SEND, K::DefaultButton, "Send", 290, 88, 40, 12},
    TemplateItem{IDC_STATIC, K::RightLabel, label("voltageIn"), 64, 12, 55, 14, 0, IDC_VOLTAGE_IN},
    TemplateItem{IDC_VOLTAGE_IN, K::ReadOnlyEdit, "", 122, 12, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("ignition"), 64, 31, 55, 14, 0, IDC_IGNITION},
    TemplateItem{IDC_IGNITION, K::ReadOnlyEdit, "", 122, 31, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("voltage3V"), 200, 12, 55, 14, 0, IDC_VOLTAGE_3V},
    TemplateItem{IDC_VOLTAGE_3V, K::ReadOnlyEdit, "", 260, 12, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("voltage5V"), 200, 31, 55, 14, 0, IDC_VOLTAGE_5V},
    TemplateItem{IDC_VOLTAGE_5V, K::ReadOnlyEdit, "", 260, 30, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("voltage12V"), 200, 50, 55, 14, 0,
                 IDC_VOLTAGE_12V},
    TemplateItem{IDC_VOLTAGE_12V, K::ReadOnlyEdit, "", 260, 50, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("temperature"), 64, 50, 55, 14, 0,
                 IDC_TEMPERATURE},
    TemplateItem{IDC_TEMPERATURE, K::ReadOnlyEdit, "", 122, 50, 52, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("voltageFlags"), 7, 176, 55, 14, 0,
                 IDC_VOLTAGE_FLAGS},
    TemplateItem{IDC_VOLTAGE_FLAGS, K::ReadOnlyEdit, "", 65, 176, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("statusFlags1"), 7, 197, 55, 14, 0,
                 IDC_STATUS_FLAGS1},
    TemplateItem{IDC_STATUS_FLAGS1, K::ReadOnlyEdit, "", 65, 197, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("statusFlags2"), 7, 218, 55, 14, 0,
                 IDC_STATUS_FLAGS2},
    TemplateItem{IDC_STATUS_FLAGS2, K::ReadOnlyEdit, "", 65, 218, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("timerFlags"), 149, 176, 55, 14, 0,
                 IDC_TIMER_FLAGS},
    TemplateItem{IDC_TIMER_FLAGS, K::ReadOnlyEdit, "", 209, 176, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("inputFlags"), 149, 197, 55, 14, 0,
                 IDC_INPUT_FLAGS},
    TemplateItem{IDC_INPUT_FLAGS, K::ReadOnlyEdit, "", 209, 197, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("outputFlags"), 149, 218, 55, 14, 0,
                 IDC_OUTPUT_FLAGS},
    TemplateItem{IDC_OUTPUT_FLAGS, K::ReadOnlyEdit, "", 209, 218, 67, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, label("state"), 7, 156, 55, 14, 0, IDC_STATE},
    TemplateItem{IDC_STATE, K::ReadOnlyEdit, "", 65, 156, 67, 14},
    TemplateItem{IDC_STATIC, K::GroupBox, "", 7, 3, 331, 67},
    TemplateItem{IDC_STATIC, K::GroupBox, "Options", 7, 74, 331, 74, 0, IDC_PARAM_LIST},
    TemplateItem{IDC_PARAM_LIST, K::DropDownList, "", 15, 88, 145, 210},
    TemplateItem{IDC_VALUE_EDIT, K::Edit, "", 162, 88, 59, 12},
    TemplateItem{IDC_UNIT_LABEL, K::Label, "[---]", 224, 88, 61, 12, 0, IDC_VALUE_EDIT},
    TemplateItem{IDC_DESCRIPTION, K::BorderLabel, "", 15, 105, 314, 37},
    TemplateItem{IDC_STATIC, K::Bitmap, "", 25, 18, 34, 35, IDB_LOGO},
    TemplateItem{IDC_AUTO_REFRESH, K::PushLikeCheck, "Auto refresh", 167, 156, 110, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("voltageIn"), 177, 12, 14, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("ignition"), 177, 31, 14, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("voltage3V"), 315, 12, 14, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("voltage5V"), 315, 30, 14, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("voltage12V"), 315, 50, 14, 14},
    TemplateItem{IDC_STATIC, K::Label, unit("temperature"), 177, 50, 14, 14},
    TemplateItem{IDC_STATUS_HISTORY, K::ReadOnlyEdit, "", 65, 239, 270, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, "Status history:", 7, 239, 55, 14, 0,
                 IDC_STATUS_HISTORY},
    TemplateItem{IDC_IO_BUFFER, K::ReadOnlyEdit, "", 65, 260, 270, 14},
    TemplateItem{IDC_STATIC, K::RightLabel, "IOBuffer:", 7, 260, 55, 14, 0, IDC_IO_BUFFER},
};

const DialogTemplate MAIN_TEMPLATE{IDD_OSTREL_DIALOG, 345, 281, TEXT_INITIAL_CAPTION, MAIN_ITEMS};

constexpr std::array ABOUT_ITEMS = {
    TemplateItem{IDC_STATIC, K::Icon, "", 11, 17, 20, 20, IDR_MAINFRAME},
    TemplateItem{IDC_ABOUT_PROGRAM, K::TextBlock, "", 40, 10, 132, 8},
    TemplateItem{IDC_ABOUT_DESCRIPTION, K::TextBlock, "", 40, 22, 132, 28},
    TemplateItem{DIALOG_OK, K::DefaultButton, "OK", 178, 7, 50, 14},
};

const DialogTemplate ABOUT_TEMPLATE{IDD_ABOUTBOX, 235, 55, "About Ostrel", ABOUT_ITEMS};

// Items of one row may sit a unit higher or lower than each other.
constexpr int ROW_SLACK = 2;

bool sameRow(const TemplateItem& a, const TemplateItem& b) {
    return a.y - b.y <= ROW_SLACK && b.y - a.y <= ROW_SLACK;
}

const TemplateItem* mainItem(int id) {
    for (const TemplateItem& item : MAIN_ITEMS) {
        if (item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

// The nearest static text of `kind` in the control's row on one side of it.
const char* besideControl(int controlId, ItemKind kind, bool left) {
    const TemplateItem* control = mainItem(controlId);
    if (control == nullptr || controlId == IDC_STATIC) {
        return "";
    }
    const TemplateItem* nearest = nullptr;
    for (const TemplateItem& item : MAIN_ITEMS) {
        if (item.id != IDC_STATIC || item.kind != kind || !sameRow(item, *control)) {
            continue;
        }
        const bool onSide =
            left ? item.x + item.cx <= control->x : item.x >= control->x + control->cx;
        if (onSide && (nearest == nullptr || (left ? item.x > nearest->x : item.x < nearest->x))) {
            nearest = &item;
        }
    }
    return nearest != nullptr ? nearest->text : "";
}

}  // namespace

const char* mainControlLabel(int controlId) {
    return besideControl(controlId, ItemKind::RightLabel, true);
}

const char* mainControlUnit(int controlId) {
    return besideControl(controlId, ItemKind::Label, false);
}

const DialogTemplate& mainDialogTemplate() {
    return MAIN_TEMPLATE;
}

const DialogTemplate& aboutDialogTemplate() {
    return ABOUT_TEMPLATE;
}

}  // namespace ui
