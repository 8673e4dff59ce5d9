// Writes an in-memory dialog template (DLGTEMPLATE with DS_SETFONT) for
// DialogBoxIndirectParamA and CreateDialogIndirectParamA: Windows then creates the
// controls and lays them out in dialog units of the template's font.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace win32 {

// Predefined window classes, written as their atoms.
inline constexpr WORD CLASS_BUTTON = 0x0080;
inline constexpr WORD CLASS_EDIT = 0x0081;
inline constexpr WORD CLASS_STATIC = 0x0082;
inline constexpr WORD CLASS_COMBOBOX = 0x0085;

struct ItemDefinition {
    DWORD style;  // WS_CHILD | WS_VISIBLE are added
    int id;       // -1: a static without id (written as 0xFFFF)
    WORD classAtom;
    const char* className;  // instead of the atom when set, e.g. "msctls_updown32"
    std::string text;       // Windows-1252
    int resource;           // when not 0: the item's title is this resource ordinal
    short x;
    short y;
    short cx;
    short cy;
};

struct DialogDefinition {
    DWORD style;          // DS_SETFONT is added
    std::string caption;  // Windows-1252
    short cx;
    short cy;
    std::vector<ItemDefinition> items;
};

// The dialog font every template of the program uses.
inline constexpr WORD DIALOG_FONT_POINTS = 8;
inline constexpr const char* DIALOG_FONT_FACE = "MS Shell Dlg";

// The template in the binary layout Windows reads; DWORD-aligned storage.
class DialogTemplateBuffer {
public:
    explicit DialogTemplateBuffer(const DialogDefinition& definition);
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    void word(std::uint16_t value);
    void dword(std::uint32_t value);
    void text(const std::string& cp1252);
    void alignToDword();

    std::vector<std::uint16_t> m_words;
};

}  // namespace win32
