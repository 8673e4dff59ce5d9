#include "win32/DialogBuilder.h"

namespace win32 {
namespace {

struct KindClass {
    WORD classAtom;
    DWORD style;
};

// Texts in labels come from the device and the parameter table: an '&' is shown, never
// taken for a mnemonic.
KindClass kindClass(ui::ItemKind kind) {
    using K = ui::ItemKind;
    switch (kind) {
        case K::DefaultButton:
            // BS_NOTIFY: the buttons report the focus too (BN_SETFOCUS), like edits and lists.
            return {CLASS_BUTTON, BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP};
        case K::PushLikeCheck:
            return {CLASS_BUTTON, BS_AUTOCHECKBOX | BS_PUSHLIKE | BS_NOTIFY | WS_TABSTOP};
        case K::RightLabel:
            return {CLASS_STATIC, SS_RIGHT | SS_CENTERIMAGE | SS_NOPREFIX};
        case K::Label:
            return {CLASS_STATIC, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX};
        case K::BorderLabel:
            // A Windows static centres one line only: the descriptions need two, so the text
            // wraps from the top.
            return {CLASS_STATIC, SS_LEFT | SS_NOPREFIX | WS_BORDER};
        case K::TextBlock:
            return {CLASS_STATIC, SS_LEFT | SS_NOPREFIX};
        case K::ReadOnlyEdit:
            return {CLASS_EDIT, ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP};
        case K::Edit:
            return {CLASS_EDIT, ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
        case K::GroupBox:
            return {CLASS_BUTTON, BS_GROUPBOX};
        case K::DropDownList:
            // Not sorted: the items keep the order they are added in.
            return {CLASS_COMBOBOX, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
        case K::Bitmap:
            return {CLASS_STATIC, SS_BITMAP};
        case K::Icon:
            return {CLASS_STATIC, SS_ICON};
    }
    return {CLASS_STATIC, SS_LEFT};
}

}  // namespace

DialogDefinition dialogDefinition(const ui::DialogTemplate& dialogTemplate, DWORD style) {
    DialogDefinition definition{style,
                                dialogTemplate.caption,
                                static_cast<short>(dialogTemplate.cx),
                                static_cast<short>(dialogTemplate.cy),
                                {}};
    definition.items.reserve(dialogTemplate.items.size());
    for (const ui::TemplateItem& item : dialogTemplate.items) {
        const KindClass kc = kindClass(item.kind);
        definition.items.push_back({kc.style, item.id, kc.classAtom, nullptr, item.text,
                                    item.resource, static_cast<short>(item.x),
                                    static_cast<short>(item.y), static_cast<short>(item.cx),
                                    static_cast<short>(item.cy)});
    }
    return definition;
}

}  // namespace win32
