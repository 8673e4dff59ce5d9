// Texts that come from outside the program: the name another process gives itself, USB and
// sysfs strings, Windows location texts, paths the user typed. Anybody who can open the
// controller's node chooses a process name, so none of them may reach a terminal or a window
// with its control bytes intact (they clear screens, set titles and forge whole lines).
#pragma once

#include <string>
#include <string_view>

#include "platform/HidPlatform.h"

// `text` with every control byte (C0, DEL, and the UTF-8 forms of C1) and every byte that
// is not part of well-formed UTF-8 written as \xNN; everything else as it stands.
std::string escapeControls(std::string_view text);

// Who holds a claim, as both programs name them: "ostrelctl (pid 4711)", "another program"
// when the system does not tell. Escaped.
std::string holderText(const platform::ClaimHolder& holder);
