// Opt-in timing for the window benchmark: with OSTREL_SIM_BENCH=<seconds> set (0 to a day),
// ostrel-sim closes the window that many seconds after the first status shows and prints to
// stderr one line: when the window was first painted, when the first status showed, the CPU
// time and peak memory of the idle seconds between.
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
    long long m_windowShownNs = 0;
    long long m_firstStatusNs = 0;
};

}  // namespace qtui
