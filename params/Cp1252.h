// The programs' texts are single-byte Windows-1252. The code page itself, free of any
// toolkit: the Qt window converts through it to UTF-16, ostrelctl to UTF-8; the Win32
// window passes the bytes to Windows' -A functions as they are.
#pragma once

#include <string>
#include <string_view>

namespace cp1252 {

// Every byte maps to one character. The five bytes Windows-1252 leaves undefined map to the
// C1 controls of the same value, as Windows does, so no byte is lost.
char16_t toUnicode(unsigned char byte);

// The byte for a character, or -1 when Windows-1252 cannot hold it (NUL included).
int fromUnicode(char32_t character);

// Byte for byte to UTF-8; the text ends at the first NUL, as a C string would.
std::string toUtf8(std::string_view text);

// UTF-8 to Windows-1252: a character the code page cannot hold, a NUL and every byte of a
// malformed sequence become '?'.
std::string fromUtf8(std::string_view text);

// The text in double quotes, as UTF-8: how messages name a parameter.
std::string quotedUtf8(std::string_view text);

}  // namespace cp1252
