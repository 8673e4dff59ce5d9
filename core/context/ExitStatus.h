// The exit statuses of ostrelctl, once: what each means (--help's footer and the manual
// page's EXIT STATUS print it), the word of --all's summary, and the order in which --all
// takes the worst of its controllers'.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace ctl {

struct ExitStatus {
    int code;
    const char* word;  // the result column of --all's summary
    const char* meaning;
};
// Every exit status the program may end with, in order.
std::span<const ExitStatus> exitStatuses();
// The exit statuses from worst to best: --all ends with the worst of its controllers'.
std::span<const int> worstExitOrder();
// The sentence of --help and the manual page on how --all chooses its exit status.
std::string allExitText();

// The worst of the exit codes, in the order that --help documents (worstExitOrder()).
int worstExit(const std::vector<int>& codes);

}  // namespace ctl
