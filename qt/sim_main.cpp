// ostrel-sim: the programmer connected to a simulated controller, with a second window to
// drive that controller. Needs no hardware.
#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/COstrelApp.h"
#include "platform/sim/SimHidPlatform.h"
#include "qt/Application.h"
#ifdef OSTREL_BENCH_PROBE
#include "qt/BenchProbe.h"
#endif
#include "qt/QtDialogWindow.h"
#include "qt/SimControlWindow.h"
#include "sim/SimulatedOstrel.h"

namespace {

// Puts the simulator's window beside the programmer's once that one is on screen: to its
// right, or to its left where the screen ends, and never off the screen. The programmer
// keeps the focus.
class PlaceBeside final : public QObject {
public:
    PlaceBeside(QWidget& anchor, QWidget& follower)
        : QObject(&follower), m_anchor(anchor), m_follower(follower) {
        anchor.installEventFilter(this);
        follower.setAttribute(Qt::WA_ShowWithoutActivating);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_anchor && event->type() == QEvent::Show) {
            m_anchor.removeEventFilter(this);
            // Once the window system has placed the anchor.
            QTimer::singleShot(0, this, [this] { place(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void place() {
        constexpr int gap = 16;
        const QRect anchor = m_anchor.frameGeometry();
        const QRect screen = m_anchor.screen()->availableGeometry();
        m_follower.adjustSize();
        // The frame the window manager adds is not known before the window shows; the
        // anchor's is the best guess.
        const QSize frame = anchor.size() - m_anchor.size();
        const QSize size = m_follower.size() + frame;
        int x = anchor.right() + 1 + gap;
        if (x + size.width() > screen.right() + 1) {
            x = anchor.left() - gap - size.width();
        }
        x = std::clamp(x, screen.left(),
                       std::max(screen.left(), screen.right() + 1 - size.width()));
        const int y = std::clamp(anchor.top(), screen.top(),
                                 std::max(screen.top(), screen.bottom() + 1 - size.height()));
        m_follower.move(x, y);
        m_follower.show();
        m_anchor.raise();
        m_anchor.activateWindow();
    }

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
    if (qtui::reportMissingDisplay(argc, argv, stderr, "ostrel-sim")) {
        return 1;
    }
    QApplication application(argc, argv);
    qtui::setupApplication();
    // A program of its own for the desktop: its own menu entry and window class.
    QApplication::setApplicationName(QStringLiteral("ostrel-sim"));
    QGuiApplication::setDesktopFileName(QStringLiteral(OSTREL_DEMO_APP_ID));

    platform::SimHidPlatform hid;
    sim::SimulatedOstrel controller(hid);
    qtui::QtDialogWindow window;
    qtui::SimControlWindow panel(controller);
    new PlaceBeside(window.dialog(), panel);
#ifdef OSTREL_BENCH_PROBE
    qtui::BenchProbe::install(window.dialog(), window);
#endif

    COstrelApp program(hid, window);
    program.InitInstance();
    return 0;
}
