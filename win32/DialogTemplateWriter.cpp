#include "win32/DialogTemplateWriter.h"

namespace win32 {
namespace {

constexpr WORD ORDINAL_MARK = 0xFFFF;
// Windows-1252: the templates' texts are written in it, as a resource compiler would.
constexpr UINT TEXT_CODE_PAGE = 1252;

}  // namespace

DialogTemplateBuffer::DialogTemplateBuffer(const DialogDefinition& definition) {
    dword(definition.style | DS_SETFONT);
    dword(0);  // extended style
    word(static_cast<std::uint16_t>(definition.items.size()));
    word(0);  // x, y: the dialog manager places the window
    word(0);
    word(static_cast<std::uint16_t>(definition.cx));
    word(static_cast<std::uint16_t>(definition.cy));
    word(0);  // no menu
    word(0);  // the dialog class
    text(definition.caption);
    word(DIALOG_FONT_POINTS);
    text(DIALOG_FONT_FACE);

    for (const ItemDefinition& item : definition.items) {
        alignToDword();
        dword(item.style | WS_CHILD | WS_VISIBLE);
        dword(0);
        word(static_cast<std::uint16_t>(item.x));
        word(static_cast<std::uint16_t>(item.y));
        word(static_cast<std::uint16_t>(item.cx));
        word(static_cast<std::uint16_t>(item.cy));
        word(static_cast<std::uint16_t>(item.id));  // -1 becomes 0xFFFF, "no id"
        if (item.className != nullptr) {
            text(item.className);
        } else {
            word(ORDINAL_MARK);
            word(item.classAtom);
        }
        if (item.resource != 0) {
            word(ORDINAL_MARK);
            word(static_cast<std::uint16_t>(item.resource));
        } else {
            text(item.text);
        }
        word(0);  // no creation data
    }
}

void DialogTemplateBuffer::word(std::uint16_t value) {
    m_words.push_back(value);
}

void DialogTemplateBuffer::dword(std::uint32_t value) {
    // Little-endian, as everything Windows reads.
    word(static_cast<std::uint16_t>(value & 0xFFFFu));
    word(static_cast<std::uint16_t>(value >> 16));
}

void DialogTemplateBuffer::text(const std::string& cp1252) {
    if (!cp1252.empty()) {
        const int length = static_cast<int>(cp1252.size());
        const int wide = MultiByteToWideChar(TEXT_CODE_PAGE, 0, cp1252.data(), length, nullptr, 0);
        if (wide > 0) {
            const std::size_t at = m_words.size();
            m_words.resize(at + static_cast<std::size_t>(wide));
            MultiByteToWideChar(TEXT_CODE_PAGE, 0, cp1252.data(), length,
                                reinterpret_cast<wchar_t*>(m_words.data() + at), wide);
        }
    }
    word(0);
}

void DialogTemplateBuffer::alignToDword() {
    if (m_words.size() % 2 != 0) {
        word(0);
    }
}

}  // namespace win32
