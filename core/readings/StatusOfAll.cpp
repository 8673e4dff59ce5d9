#include "core/readings/StatusOfAll.h"

#include <thread>

namespace ctl {

std::vector<StatusAnswer> askStatusOfAll(platform::HidPlatform& platform,
                                         const std::vector<const HIDDescriptor*>& controllers,
                                         const Controller::Options& options) {
    std::vector<StatusAnswer> answers(controllers.size());
    {
        // Joined at the end of this block, before anyone reads the answers.
        std::vector<std::jthread> threads;
        threads.reserve(controllers.size());
        for (std::size_t i = 0; i < controllers.size(); ++i) {
            threads.emplace_back(
                [&platform, &options, &chosen = *controllers[i], &answer = answers[i]] {
                    Controller controller(platform, answer.table, options);
                    answer.found = controller.open(chosen);
                    if (answer.found == Controller::Found::One) {
                        answer.outcome = controller.status(answer.status);
                    }
                });
        }
    }
    return answers;
}

}  // namespace ctl
