#include "core/context/ExitStatus.h"

#include <algorithm>

#include "core/context/Context.h"

namespace ctl {
namespace {

constexpr ExitStatus EXIT_STATUSES[] = {
    {EXIT_OK, "ok", "success"},
    {EXIT_USAGE, "bad input",
     "bad usage or bad input (arguments, files, a value the controller cannot take; "
     "cross-family restore without --convert)"},
    {EXIT_NO_DEVICE, "no device",
     "no controller found, or several without --device or --all; --device naming no "
     "controller, or two; the chosen controller gone or replugged before it was opened"},
    {EXIT_LOST, "lost", "the controller was lost during the command"},
    {EXIT_TIMEOUT, "timeout",
     "a read timed out, a write was refused by the system, or a written value "
     "did not read back"},
    {EXIT_CLAIMED, "claimed",
     "the controller is in use by another of our programs (the window or another ostrelctl); "
     "--wait SECONDS waits for it, and only status runs beside them"},
    {EXIT_DIFFERS, "differs", "the file and the controller differ (diff --exit-code)"},
    {EXIT_INTERRUPTED, "interrupted",
     "stopped by Ctrl-C or SIGTERM after the write in progress and its read-back, with what "
     "was and was not written listed (a second one ends at once; status --watch ends with 0)"},
};

}  // namespace

std::span<const ExitStatus> exitStatuses() {
    return EXIT_STATUSES;
}

std::string allExitText() {
    std::string order;
    for (const int code : worstExitOrder()) {
        order += (order.empty() ? "" : ", ") + std::to_string(code);
    }
    return "With --all the exit status is the worst of the controllers' statuses, from worst to "
           "best: " +
           order +
           " (a controller that may be left part-written first, then one stopped part way by "
           "Ctrl-C, one that refused the work, one never reached, a difference found).";
}

std::span<const int> worstExitOrder() {
    // A controller that may be left part-written first, then one stopped part way by Ctrl-C
    // (what it wrote is known), one that refused the work, one that was never reached, then
    // a difference found.
    static constexpr int ORDER[] = {EXIT_LOST,    EXIT_TIMEOUT,   EXIT_INTERRUPTED, EXIT_USAGE,
                                    EXIT_CLAIMED, EXIT_NO_DEVICE, EXIT_DIFFERS,     EXIT_OK};
    return ORDER;
}

int worstExit(const std::vector<int>& codes) {
    const std::span<const int> order = worstExitOrder();
    std::size_t worst = order.size() - 1;
    for (const int code : codes) {
        const auto found = std::find(order.begin(), order.end(), code);
        // A code outside the table is a failure of its own: as bad as the worst.
        const std::size_t rank =
            found == order.end() ? 0 : static_cast<std::size_t>(found - order.begin());
        worst = std::min(worst, rank);
    }
    return order[worst];
}

}  // namespace ctl
