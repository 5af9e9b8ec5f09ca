#pragma once
// Measures how responsive the GUI thread is: a precise 10 ms timer notes how
// late each of its ticks comes (a tick held up by work on the thread comes
// late by that long), and the CPU time the GUI thread and the rest of the
// process (the transfer threads) used. Once a second, and when the probe
// goes, it appends one line of figures for the ticks since the last line,
// with the CPU times since the start, so that a reader can pick the seconds
// it cares about.
//
// Started by the desktop program when FETCHORA_LATENCY_PROBE names a file;
// the benchmark under bench/ reads it. Thread: the GUI thread.
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

class QTimer;

namespace fetchora {

struct LatencyFigures {
    double atSeconds = 0;  // since the probe started, at the end of the window
    int64_t ticks = 0;
    double worstLateMs = 0;  // the longest delay of a tick
    double p99LateMs = 0;
    int64_t lateOver50Ms = 0;  // ticks delayed more than 50 ms
    double guiCpuSeconds = 0;  // CPU time of the GUI thread
    double otherCpuSeconds = 0;  // CPU time of every other thread
};

// "at_s=.. ticks=.. worst_ms=.. p99_ms=.. over50=.. gui_cpu_s=.. other_cpu_s=..".
QString FormatLatencyFigures(const LatencyFigures& figures);

class LoopLatencyProbe final : public QObject {
    Q_OBJECT
public:
    explicit LoopLatencyProbe(QString file, QObject* parent = nullptr);
    ~LoopLatencyProbe() override;

    // The ticks since the last line; CPU times since the start.
    LatencyFigures figures() const;

private:
    void tick();
    void write();

    QString m_file;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_lastWriteNs = 0;
    std::vector<uint32_t> m_lateUs;  // one entry per tick
    double m_worstMs = 0;
    int64_t m_over50 = 0;
    double m_guiCpuStart = 0;
    double m_processCpuStart = 0;
};

}  // namespace fetchora
