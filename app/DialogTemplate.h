// The two dialog templates as data: the main window (102) and the About box (100). Item
// order is creation order and tab order. Texts are Windows-1252. Every window adapter
// builds its dialogs from these, so there is one copy of the layout.
#pragma once

#include <span>

namespace ui {

inline constexpr int IDC_STATIC = -1;

// The About box's two labels, filled from CAboutDlg.
inline constexpr int IDC_ABOUT_PROGRAM = 1100;
inline constexpr int IDC_ABOUT_DESCRIPTION = 1101;

enum class ItemKind {
    DefaultButton,  // push button pressed by Enter
    RightLabel,     // static text, right-aligned, vertically centred
    Label,          // static text, left-aligned, vertically centred
    BorderLabel,    // static text with a border, wrapping, vertically centred
    TextBlock,      // static text, left and top aligned, wrapping
    ReadOnlyEdit,   // bordered, scrolls horizontally, tab stop
    Edit,
    GroupBox,
    DropDownList,   // not sorted; the height includes the dropped list
    Bitmap,         // picture of a bitmap resource
    Icon,           // picture of an icon resource
    PushLikeCheck,  // automatic check box drawn as a toggle button
};

struct TemplateItem {
    int id;
    ItemKind kind;
    const char* text;
    int x;
    int y;
    int cx;
    int cy;
    int resource = 0;  // Bitmap and Icon items
    // Labels and group boxes: the control they name, for the keyboard (a label's mnemonic)
    // and for screen readers (the control's accessible name). 0: none.
    int buddy = 0;
};

struct DialogTemplate {
    int id;
    int cx;
    int cy;
    const char* caption;
    std::span<const TemplateItem> items;
};

const DialogTemplate& mainDialogTemplate();
const DialogTemplate& aboutDialogTemplate();

// What the main window writes beside a control, found by place: the right-aligned label in
// its row to its left ("Voltage In:"), and the unit label in its row to its right ("[V]").
// "" when there is none.
const char* mainControlLabel(int controlId);
const char* mainControlUnit(int controlId);

}  // namespace ui
