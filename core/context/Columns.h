// Text tables for people: the columns of `devices` and of the summary of --all.
#pragma once

#include <string>
#include <vector>

namespace ctl {

// The rows as aligned columns: each column as wide as its widest cell (in characters, a
// UTF-8 path counting as what it shows), two blanks apart, the last cell of a row not
// padded; a row may have fewer cells than another. One line a row.
std::string alignedColumns(const std::vector<std::vector<std::string>>& rows);

}  // namespace ctl
