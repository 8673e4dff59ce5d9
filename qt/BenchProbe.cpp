#include "qt/BenchProbe.h"

#include <sys/resource.h>

#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "app/DialogWindow.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "qt/Cp1252.h"

namespace qtui {
namespace {

// A day: more is a typing error, not a benchmark.
constexpr int BENCH_SECONDS_LAST = 86'400;

long long wallClockNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

long cpuTimeUs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1'000'000L + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

BenchProbe* BenchProbe::install(QDialog& dialog, DialogWindow& window) {
    const QByteArray value = qgetenv(BENCH_ENVIRONMENT);
    bool ok = false;
    const int seconds = value.toInt(&ok);
    if (!ok || seconds < 0 || seconds > BENCH_SECONDS_LAST) {
        return nullptr;
    }
    return new BenchProbe(dialog, window, seconds);
}

BenchProbe::BenchProbe(QDialog& dialog, DialogWindow& window, int idleSeconds)
    : QObject(&dialog), m_dialog(dialog), m_window(window), m_idleSeconds(idleSeconds) {
    dialog.installEventFilter(this);
}

bool BenchProbe::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_dialog) {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            m_windowShownNs = wallClockNs();
        } else if (event->type() == QEvent::WindowTitleChange && !m_statusShown &&
                   m_dialog.windowTitle() != fromCp1252(TEXT_INITIAL_CAPTION)) {
            m_statusShown = true;
            m_firstStatusNs = wallClockNs();
            m_cpuAtStatusUs = cpuTimeUs();
            QTimer::singleShot(m_idleSeconds * 1000, this, [this] { finish(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void BenchProbe::finish() {
    // One line, as the Win32 probe prints it (scripts/bench-probe.awk reads both).
    std::fprintf(stderr,
                 "bench window-shown-ns %lld first-status-ns %lld idle-seconds %d idle-cpu-us %ld "
                 "peak-rss-kb %ld\n",
                 m_windowShownNs, m_firstStatusNs, m_idleSeconds, cpuTimeUs() - m_cpuAtStatusUs,
                 peakResidentKb());
    std::fflush(stderr);
    m_window.endDialog(DIALOG_CANCEL);
}

}  // namespace qtui
