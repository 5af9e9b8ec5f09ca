#pragma once
// The detail area under the job list: the parts tree of the detail job, and
// beside it the log, graph (speed history and block map), information and
// links panes. It reads the job (and its runner's parts) when a batch of the list
// model says something changed; it keeps only the speed history, which no
// record holds.
//
// Thread: GUI thread (the loop thread). Borrows the list model, the settings
// and the job lock; holds a pointer to the detail job, which the list model
// clears (and says so) before the job goes.
#include <QColor>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/job_lock.h"

class QTabWidget;
class QTimer;
class QTreeWidget;
class QPlainTextEdit;
class QTreeWidgetItem;

namespace fetchora {

class AppSettings;
class DownloadJob;
class JobListModel;
class JobPart;
struct CompletedRange;
struct JobListChanges;
enum class LogKind : uint32_t;

// A stored "Color" value (0x00BBGGRR) as a colour.
QColor colorFromColorRef(int32_t value);

// One cell of the block map.
enum class BlockState : uint8_t { Missing, Running, Done };

// The block map of a file of fileSize bytes cut into blocks of blockBytes:
// a block is Done when the completed ranges cover it whole, Running when a
// running part's remaining range touches it, else Missing. At most
// maxCells cells: neighbouring blocks are merged into one cell (the cell is
// Done only when all its blocks are, Running when any of them runs). Empty
// for an unknown or empty size.
struct RunningSpan {
    int64_t start = 0;  // first byte still to fetch
    int64_t end = -1;  // last byte (inclusive); -1: to the end of the file
};
std::vector<BlockState> blockMap(int64_t fileSize, std::span<const CompletedRange> done,
                                 const std::vector<RunningSpan>& running, int64_t blockBytes, size_t maxCells);

// The speed graph's samples (bytes per second, newest last) and its scale.
class SpeedHistory {
public:
    explicit SpeedHistory(size_t capacity = 120) : m_capacity(capacity) { }
    void add(int64_t bytesPerSecond);
    void clear() { m_samples.clear(); }
    const std::deque<int64_t>& samples() const { return m_samples; }
    // The top of the graph in bytes per second: the scale setting (KB/s)
    // unless a sample is higher, then the next step of 1, 2, 5 × 10^n KB/s
    // that holds every sample.
    int64_t scaleTop(int32_t scaleKb) const;

private:
    size_t m_capacity;
    std::deque<int64_t> m_samples;
};

class SpeedGraph;
class BlockMapView;
class LinksView;
struct LinkChoice;

class DetailPanes final : public QWidget {
    Q_OBJECT
public:
    DetailPanes(JobListModel& list, const AppSettings& settings, JobLock& lock, QWidget* parent = nullptr);
    ~DetailPanes() override;

    // Applies the detail-area parts of one batch of the list model.
    void apply(const JobListChanges& changes);
    // Reloads every pane from the list model's detail job.
    void reload();
    // What the links pane's "Add to job list" and "Open in browser" do.
    void setLinkActions(std::function<void(std::vector<LinkChoice>)> add,
                        std::function<void(const std::string& url)> open);

    // Read-outs for tests.
    QTreeWidget* partsTree() const { return m_parts; }
    QTreeWidget* logPane() const { return m_log; }
    QPlainTextEdit* infoPane() const { return m_info; }
    LinksView* linksPane() const { return m_links; }
    const SpeedHistory& speedHistory() const { return m_history; }
    const std::vector<BlockState>& blockCells() const;

private:
    // The headers and tab texts in the current language.
    void retext();
    void rebuildParts();
    void addPart(const JobPart& part);
    void refreshPartItems();
    void reloadLog();
    void reloadInfo();
    void reloadGraph();
    void reloadLinks();
    void sampleSpeed();
    const JobPart* logPart() const;
    void colourLogItem(QTreeWidgetItem* item, LogKind kind) const;

    JobListModel& m_list;
    const AppSettings& m_settings;
    JobLock& m_lock;
    DownloadJob* m_job = nullptr;
    QTreeWidget* m_parts = nullptr;
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_log = nullptr;
    SpeedGraph* m_graph = nullptr;
    BlockMapView* m_blocks = nullptr;
    QPlainTextEdit* m_info = nullptr;
    LinksView* m_links = nullptr;
    QTimer* m_sampler = nullptr;
    SpeedHistory m_history;
};

}  // namespace fetchora
