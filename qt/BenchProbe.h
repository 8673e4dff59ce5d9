// Opt-in timing for the window benchmark: with OSTREL_SIM_BENCH=<seconds> set, ostrel-sim
// prints to stderr when the window is first painted and when the first status shows, the
// CPU time and peak memory of the idle seconds that follow, and then closes the window.
#pragma once

#include <QObject>

class DialogWindow;
class QDialog;

namespace qtui {

inline constexpr const char* BENCH_ENVIRONMENT = "OSTREL_SIM_BENCH";

class BenchProbe final : public QObject {
    Q_OBJECT

public:
    // Null unless the environment asks for it.
    static BenchProbe* install(QDialog& dialog, DialogWindow& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    BenchProbe(QDialog& dialog, DialogWindow& window, int idleSeconds);
    void finish();

    QDialog& m_dialog;
    DialogWindow& m_window;
    int m_idleSeconds;
    bool m_painted = false;
    bool m_statusShown = false;
    long m_cpuAtStatusUs = 0;
};

}  // namespace qtui
