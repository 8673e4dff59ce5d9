#include "core/readings/StatusOfAll.h"

#include <thread>
#include <utility>

namespace ctl {

Reading StatusAnswer::reading(std::string location) const {
    Reading reading;
    reading.location = std::move(location);
    reading.taken = taken;
    if (answered()) {
        reading.answer = Answer::Ok;
        reading.status = status;
        reading.texts = statusTexts(table, status);
    } else if (found != Controller::Found::One || outcome == Outcome::Lost) {
        reading.answer = Answer::Lost;
    }
    return reading;
}

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
                    answer.taken = std::chrono::system_clock::now();
                });
        }
    }
    return answers;
}

}  // namespace ctl
