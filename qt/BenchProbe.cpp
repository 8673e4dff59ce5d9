#include "qt/BenchProbe.h"

#include <sys/resource.h>

#include <QDialog>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "app/DialogWindow.h"
#include "app/Resource.h"

namespace qtui {
namespace {

const QString BENCH_INITIAL_CAPTION = QStringLiteral("Ostrel ver: --");

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
    if (!ok || seconds < 0) {
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
            std::fprintf(stderr, "bench window-shown %lld\n", wallClockNs());
        } else if (event->type() == QEvent::WindowTitleChange && !m_statusShown &&
                   m_dialog.windowTitle() != BENCH_INITIAL_CAPTION) {
            m_statusShown = true;
            std::fprintf(stderr, "bench first-status %lld\n", wallClockNs());
            m_cpuAtStatusUs = cpuTimeUs();
            QTimer::singleShot(m_idleSeconds * 1000, this, [this] { finish(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void BenchProbe::finish() {
    std::fprintf(stderr, "bench idle-seconds %d\n", m_idleSeconds);
    std::fprintf(stderr, "bench idle-cpu-us %ld\n", cpuTimeUs() - m_cpuAtStatusUs);
    std::fprintf(stderr, "bench peak-rss-kb %ld\n", peakResidentKb());
    std::fflush(stderr);
    m_window.endDialog(DIALOG_CANCEL);
}

}  // namespace qtui
