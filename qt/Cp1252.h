// Texts cross the window logic as single-byte Windows-1252; Qt speaks UTF-16.
#pragma once

#include <QString>
#include <string>

namespace qtui {

// Every byte maps to one character. The five bytes Windows-1252 leaves undefined map to
// the C1 controls of the same value, as Windows does, so no byte is lost. The text ends at
// the first NUL, as a C string would.
QString fromCp1252(const std::string& text);

// Every character maps to one byte; one that Windows-1252 cannot hold (a surrogate pair
// counts as one character) and NUL become '?'.
std::string toCp1252(const QString& text);

}  // namespace qtui
