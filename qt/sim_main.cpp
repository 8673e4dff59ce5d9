// ostrel-sim: the programmer connected to a simulated controller, with a second window to
// drive that controller. Needs no hardware.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>

#include "app/COstrelApp.h"
#include "platform/sim/SimHidPlatform.h"
#include "qt/Application.h"
#include "qt/BenchProbe.h"
#include "qt/QtDialogWindow.h"
#include "qt/SimControlWindow.h"
#include "sim/SimulatedOstrel.h"

namespace {

// Puts the simulator's window beside the programmer's once that one is on screen.
class PlaceBeside final : public QObject {
public:
    PlaceBeside(QWidget& anchor, QWidget& follower)
        : QObject(&follower), m_anchor(anchor), m_follower(follower) {
        anchor.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_anchor && event->type() == QEvent::Show) {
            m_anchor.removeEventFilter(this);
            // Once the window system has placed the anchor.
            QTimer::singleShot(0, this, [this] {
                const QRect anchor = m_anchor.frameGeometry();
                constexpr int gap = 16;
                m_follower.move(anchor.right() + gap, anchor.top());
                m_follower.show();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget& m_anchor;
    QWidget& m_follower;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (qtui::answerInfoOptions(argc, argv, stdout, "ostrel-sim",
                                "The Ostrel programmer connected to a simulated controller, with a "
                                "second window\nthat drives the controller. Needs no hardware.")) {
        return 0;
    }
    QApplication application(argc, argv);
    qtui::setupApplication();

    platform::SimHidPlatform hid;
    sim::SimulatedOstrel controller(hid);
    qtui::QtDialogWindow window;
    qtui::SimControlWindow panel(controller);
    new PlaceBeside(window.dialog(), panel);
    qtui::BenchProbe::install(window.dialog(), window);

    COstrelApp program(hid, window);
    program.InitInstance();
    return 0;
}
