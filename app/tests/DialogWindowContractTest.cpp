// The window contract on the recording window, whose timers tick when the test says so.
#include "app/tests/DialogWindowContract.h"
#include "app/tests/RecordingWindow.h"

namespace {

struct RecordingTraits {
    using Window = RecordingWindow;

    static std::unique_ptr<Window> make() { return std::make_unique<Window>(); }
    static int run(Window& window, DialogHandlers& handlers, const std::function<void()>& script) {
        window.setSession([&](RecordingWindow&) { script(); });
        return window.doModal(handlers);
    }
    static bool waitUntil(Window& window, const std::function<bool()>& done) {
        for (int round = 0; round < 500; ++round) {
            if (done()) {
                return true;
            }
            tickAll(window);
        }
        return done();
    }
    static void pumpAWhile(Window& window) {
        for (int round = 0; round < 10; ++round) {
            tickAll(window);
        }
    }
    static void userClicksSend(Window& window) { window.userClicksSend(); }
    static void userPressesEnter(Window& window) { window.userPressesEnter(); }
    // One tick of every running timer; a tick may kill a timer.
    static void tickAll(Window& window) {
        std::vector<unsigned> ids;
        for (const auto& [id, period] : window.timers()) {
            ids.push_back(id);
        }
        for (const unsigned id : ids) {
            window.tick(id);
        }
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Recording, DialogWindowContract, RecordingTraits);

}  // namespace
