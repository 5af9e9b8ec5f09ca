#include "gui/loop_latency_probe.h"

#include <QFile>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace fetchora {

namespace {

constexpr int kIntervalMs = 10;

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

QString FormatLatencyFigures(const LatencyFigures& figures)
{
    return QStringLiteral("at_s=%7 ticks=%1 worst_ms=%2 p99_ms=%3 over50=%4 gui_cpu_s=%5 other_cpu_s=%6")
        .arg(figures.ticks)
        .arg(figures.worstLateMs, 0, 'f', 1)
        .arg(figures.p99LateMs, 0, 'f', 1)
        .arg(figures.lateOver50Ms)
        .arg(figures.guiCpuSeconds, 0, 'f', 2)
        .arg(figures.otherCpuSeconds, 0, 'f', 2)
        .arg(figures.atSeconds, 0, 'f', 2);
}

LoopLatencyProbe::LoopLatencyProbe(QString file, QObject* parent) : QObject(parent), m_file(std::move(file))
{
    m_guiCpuStart = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    m_processCpuStart = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    m_timer = new QTimer(this);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &LoopLatencyProbe::tick);
    m_clock.start();
    m_lastNs = 0;
    m_timer->start();
}

LoopLatencyProbe::~LoopLatencyProbe()
{
    write();
}

void LoopLatencyProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const double lateMs = std::max(0.0, static_cast<double>(now - m_lastNs) / 1e6 - kIntervalMs);
    m_lastNs = now;
    m_lateUs.push_back(static_cast<uint32_t>(std::min(lateMs * 1000.0, 4e9)));
    m_worstMs = std::max(m_worstMs, lateMs);
    if (lateMs > 50.0)
        ++m_over50;
    if (now - m_lastWriteNs >= 1'000'000'000) {
        m_lastWriteNs = now;
        write();
    }
}

LatencyFigures LoopLatencyProbe::figures() const
{
    LatencyFigures figures;
    figures.ticks = static_cast<int64_t>(m_lateUs.size());
    figures.worstLateMs = m_worstMs;
    figures.lateOver50Ms = m_over50;
    if (!m_lateUs.empty()) {
        std::vector<uint32_t> sorted = m_lateUs;
        const size_t at = std::min(sorted.size() - 1, sorted.size() * 99 / 100);
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at), sorted.end());
        figures.p99LateMs = sorted[at] / 1000.0;
    }
    const double gui = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - m_guiCpuStart;
    const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - m_processCpuStart;
    figures.guiCpuSeconds = gui;
    figures.otherCpuSeconds = std::max(0.0, process - gui);
    figures.atSeconds = static_cast<double>(m_clock.nsecsElapsed()) / 1e9;
    return figures;
}

void LoopLatencyProbe::write()
{
    QFile out(m_file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Append))
        out.write(FormatLatencyFigures(figures()).toUtf8() + '\n');
    m_lateUs.clear();
    m_worstMs = 0;
    m_over50 = 0;
}

}  // namespace fetchora
