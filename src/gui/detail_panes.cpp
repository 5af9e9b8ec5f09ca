#include "gui/detail_panes.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QResizeEvent>

#include <QPainter>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include <algorithm>
#include <ctime>
#include <optional>

#include "config/app_settings.h"
#include "config/option_id.h"
#include "engine/job_info_file.h"
#include "engine/job_runner.h"
#include "gui/links_view.h"
#include "gui/ui_text.h"
#include "model/download_job.h"
#include "model/job_part.h"
#include "model/part_log.h"
#include "shell/job_list_cells.h"
#include "shell/job_list_model.h"

namespace fetchora {

QColor colorFromColorRef(int32_t value)
{
    const auto v = static_cast<uint32_t>(value);
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
}

std::vector<BlockState> blockMap(int64_t fileSize, std::span<const CompletedRange> done,
                                 const std::vector<RunningSpan>& running, int64_t blockBytes, size_t maxCells)
{
    if (fileSize <= 0 || blockBytes <= 0 || maxCells == 0)
        return {};
    const int64_t blocks = (fileSize + blockBytes - 1) / blockBytes;
    const int64_t perCell = (blocks + static_cast<int64_t>(maxCells) - 1) / static_cast<int64_t>(maxCells);
    const int64_t cellBytes = perCell * blockBytes;
    const auto cells = static_cast<size_t>((fileSize + cellBytes - 1) / cellBytes);
    std::vector<BlockState> out(cells, BlockState::Missing);
    // Done: the bytes of each cell the ranges cover; a cell is done when all
    // of its bytes are. Ranges are sorted and never overlap.
    std::vector<int64_t> covered(cells, 0);
    for (const CompletedRange& range : done) {
        int64_t start = std::max<int64_t>(range.start, 0);
        const int64_t end = std::min(range.end, fileSize);  // exclusive
        while (start < end) {
            const auto cell = static_cast<size_t>(start / cellBytes);
            const int64_t cellEnd = std::min((static_cast<int64_t>(cell) + 1) * cellBytes, fileSize);
            const int64_t stop = std::min(end, cellEnd);
            covered[cell] += stop - start;
            start = stop;
        }
    }
    for (size_t c = 0; c < cells; ++c) {
        const int64_t cellStart = static_cast<int64_t>(c) * cellBytes;
        const int64_t cellLength = std::min(cellBytes, fileSize - cellStart);
        if (covered[c] >= cellLength)
            out[c] = BlockState::Done;
    }
    for (const RunningSpan& span : running) {
        const int64_t last = span.end < 0 ? fileSize - 1 : std::min(span.end, fileSize - 1);
        if (span.start < 0 || span.start > last)
            continue;
        for (auto c = static_cast<size_t>(span.start / cellBytes); c <= static_cast<size_t>(last / cellBytes); ++c)
            if (out[c] != BlockState::Done)
                out[c] = BlockState::Running;
    }
    return out;
}

void SpeedHistory::add(int64_t bytesPerSecond)
{
    m_samples.push_back(std::max<int64_t>(bytesPerSecond, 0));
    while (m_samples.size() > m_capacity)
        m_samples.pop_front();
}

int64_t SpeedHistory::scaleTop(int32_t scaleKb) const
{
    const int64_t floor = std::max<int64_t>(scaleKb, 1) * 1024;
    const int64_t peak = m_samples.empty() ? 0 : *std::max_element(m_samples.begin(), m_samples.end());
    if (peak <= floor)
        return floor;
    int64_t decade = 1024;
    while (true) {
        for (int64_t step : {1, 2, 5}) {
            if (step * decade >= peak)
                return step * decade;
        }
        decade *= 10;
    }
}

// The speed history, painted: the graph colours come from the settings.
class SpeedGraph final : public QWidget {
public:
    SpeedGraph(const SpeedHistory& history, const AppSettings& settings, QWidget* parent)
        : QWidget(parent), m_history(history), m_settings(settings)
    {
        setMinimumHeight(fontMetrics().height() * 3);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QColor back = colorFromColorRef(m_settings.GetOption(OptionId::GraphBack));
        const QColor fore = colorFromColorRef(m_settings.GetOption(OptionId::GraphFore));
        painter.fillRect(rect(), back);
        const auto& samples = m_history.samples();
        const int64_t top = m_history.scaleTop(m_settings.GetOption(OptionId::GraphScale));
        QColor grid = fore;
        grid.setAlpha(70);
        painter.setPen(QPen(grid, 1, Qt::DashLine));
        for (int i = 1; i < 4; ++i)
            painter.drawLine(0, height() * i / 4, width(), height() * i / 4);
        painter.setPen(fore);
        painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignTop | Qt::AlignLeft,
                         QStringLiteral("%1 KB/s").arg(top / 1024));
        if (samples.size() < 2)
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        QPolygonF line;
        const double dx = static_cast<double>(width()) / static_cast<double>(samples.size() - 1);
        for (size_t i = 0; i < samples.size(); ++i) {
            const double y = height() - static_cast<double>(samples[i]) * height() / static_cast<double>(top);
            line << QPointF(dx * static_cast<double>(i), std::clamp(y, 0.0, static_cast<double>(height())));
        }
        painter.setPen(QPen(fore, 1.5));
        painter.drawPolyline(line);
    }

private:
    const SpeedHistory& m_history;
    const AppSettings& m_settings;
};

// The block map, painted as a grid of square cells.
class BlockMapView final : public QWidget {
public:
    explicit BlockMapView(const AppSettings& settings, QWidget* parent) : QWidget(parent), m_settings(settings)
    {
        setMinimumHeight(fontMetrics().height() * 3);
    }

    // The cell side follows the font, so that it grows with the screen's
    // scale; how many bytes a cell stands for is a setting ("BlockSize" of
    // the colours, in KB), raised as needed so that the file fits the map.
    int cellSide() const { return std::max(3, fontMetrics().height() / 3); }
    size_t capacity() const
    {
        const int side = cellSide() + 1;
        return static_cast<size_t>(std::max(1, width() / side)) * static_cast<size_t>(std::max(1, height() / side));
    }
    void setCells(std::vector<BlockState> cells)
    {
        m_cells = std::move(cells);
        update();
    }
    const std::vector<BlockState>& cells() const { return m_cells; }
    // Called when the map's size changed: the cells are laid out anew for it.
    void setResized(std::function<void()> resized) { m_resized = std::move(resized); }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        if (m_resized)
            m_resized();
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().base());
        const int side = cellSide();
        const int columns = std::max(1, width() / (side + 1));
        const QColor done = palette().color(QPalette::Highlight);
        const QColor running(0x2e, 0xb8, 0x4b);
        const QColor missing = palette().color(QPalette::Mid);
        for (size_t i = 0; i < m_cells.size(); ++i) {
            const int x = static_cast<int>(i % static_cast<size_t>(columns)) * (side + 1);
            const int y = static_cast<int>(i / static_cast<size_t>(columns)) * (side + 1);
            const QColor& colour = m_cells[i] == BlockState::Done ? done
                : m_cells[i] == BlockState::Running               ? running
                                                                  : missing;
            painter.fillRect(x, y, side, side, colour);
        }
    }

private:
    const AppSettings& m_settings;
    std::vector<BlockState> m_cells;
    std::function<void()> m_resized;
};

namespace {

constexpr int kPartRole = Qt::UserRole + 1;

// Comma lists: "Part,Range", the tabs in their order, "Date,Information";
// a part's row and the words it uses.
constexpr uint32_t kPartsHeadersId = 40001;
constexpr uint32_t kTabsId = 40002;
constexpr uint32_t kLogHeadersId = 61301;
constexpr uint32_t kPartRowId = 40004;
constexpr uint32_t kPartWordsId = 40005;

const PartList* partsOf(const DownloadJob* job)
{
    return job && job->runner() ? &job->runner()->parts() : nullptr;
}

QString partText(const JobPart& part)
{
    const QString end = part.end == kOpenEnd ? uiListItem(kPartWordsId, 3) : QString::number(part.end);
    const QString state = uiListItem(kPartWordsId, part.isRunning() ? 0 : part.waitState() ? 1 : 2);
    return uiString(kPartRowId).arg(part.start).arg(end).arg(part.received).arg(state);
}

}  // namespace

DetailPanes::DetailPanes(JobListModel& list, const AppSettings& settings, JobLock& lock, QWidget* parent)
    : QWidget(parent), m_list(list), m_settings(settings), m_lock(lock)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(Qt::Horizontal, this);
    m_parts = new QTreeWidget(split);
    m_parts->setColumnCount(2);
    m_parts->setRootIsDecorated(false);
    // The part number needs only its digits; the range gets the rest.
    m_parts->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tabs = new QTabWidget(split);
    // For translations of the tab texts (the main frame's ids run from 2001).
    m_tabs->setProperty("controlId", 2101);
    m_log = new QTreeWidget(m_tabs);
    m_log->setColumnCount(2);
    m_log->setRootIsDecorated(false);
    m_log->setUniformRowHeights(true);
    // Wide enough for a whole time stamp in the current font.
    m_log->header()->resizeSection(
        0, m_log->fontMetrics().horizontalAdvance(QStringLiteral("00/00/00 00:00:00")) + m_log->fontMetrics().height());
    m_tabs->addTab(m_log, QString());
    auto* graphPage = new QWidget(m_tabs);
    auto* graphLayout = new QVBoxLayout(graphPage);
    graphLayout->setContentsMargins(0, 0, 0, 0);
    m_graph = new SpeedGraph(m_history, m_settings, graphPage);
    m_blocks = new BlockMapView(m_settings, graphPage);
    // A map laid out while its tab was hidden had the size of a hidden page.
    m_blocks->setResized([this] { reloadGraph(); });
    graphLayout->addWidget(m_graph, 1);
    graphLayout->addWidget(m_blocks, 1);
    m_tabs->addTab(graphPage, QString());
    m_info = new QPlainTextEdit(m_tabs);
    m_info->setReadOnly(true);
    m_tabs->addTab(m_info, QString());
    m_links = new LinksView(m_tabs);
    m_tabs->addTab(m_links, QString());
    retext();
    onLanguageChanged(this, [this] {
        retext();
        refreshPartItems();
        reloadInfo();
    });
    split->setStretchFactor(1, 1);
    // A range like "100000000-124999999  9011200 bytes" fits beside the tabs.
    const int partsWidth
        = m_parts->fontMetrics().horizontalAdvance(QStringLiteral("8888 0000000000-0000000000  000000000 bytes"));
    split->setSizes({partsWidth, partsWidth * 2});
    layout->addWidget(split);

    connect(m_parts, &QTreeWidget::currentItemChanged, this, [this] { reloadLog(); });
    // One speed sample a second while a job is shown; a coarse timer is enough.
    m_sampler = new QTimer(this);
    m_sampler->setInterval(1000);
    m_sampler->setTimerType(Qt::CoarseTimer);
    connect(m_sampler, &QTimer::timeout, this, &DetailPanes::sampleSpeed);
}

DetailPanes::~DetailPanes() = default;

void DetailPanes::retext()
{
    m_parts->setHeaderLabels({uiListItem(kPartsHeadersId, 0), uiListItem(kPartsHeadersId, 1)});
    m_log->setHeaderLabels({uiListItem(kLogHeadersId, 0), uiListItem(kLogHeadersId, 1)});
    for (int tab = 0; tab < m_tabs->count(); ++tab)
        m_tabs->setTabText(tab, uiListItem(kTabsId, static_cast<size_t>(tab)));
}

const std::vector<BlockState>& DetailPanes::blockCells() const
{
    return m_blocks->cells();
}

void DetailPanes::apply(const JobListChanges& changes)
{
    if (changes.detailJobChanged) {
        reload();
        return;
    }
    if (!m_job)
        return;
    if (changes.partsRebuilt) {
        rebuildParts();
    } else if (!changes.addedParts.empty()) {
        JobLockGuard guard(m_lock);
        for (const JobPart* part : changes.addedParts)
            addPart(*part);
    }
    if (!changes.logLines.empty() || changes.logPane || changes.partsRebuilt)
        reloadLog();
    if (changes.infoPane)
        reloadInfo();
    // Any change of the detail job may be its completion (or a new download
    // of its file); the pane reads the page again only when it changed.
    if (changes.infoPane || changes.logPane)
        reloadLinks();
    if (changes.graphPane || changes.partsRebuilt) {
        refreshPartItems();
        reloadGraph();
    }
}

void DetailPanes::reload()
{
    m_job = m_list.detailJob();
    m_history.clear();
    rebuildParts();
    reloadLog();
    reloadInfo();
    reloadGraph();
    reloadLinks();
    if (m_job)
        m_sampler->start();
    else
        m_sampler->stop();
}

void DetailPanes::rebuildParts()
{
    m_parts->clear();
    JobLockGuard guard(m_lock);
    if (const PartList* parts = partsOf(m_job))
        for (const auto& part : *parts)
            addPart(*part);
    if (m_parts->topLevelItemCount() > 0)
        m_parts->setCurrentItem(m_parts->topLevelItem(0));
}

void DetailPanes::addPart(const JobPart& part)
{
    auto* item = new QTreeWidgetItem(m_parts);
    item->setText(0, QString::number(m_parts->topLevelItemCount()));
    item->setText(1, partText(part));
    item->setData(0, kPartRole, QVariant::fromValue(reinterpret_cast<quintptr>(&part)));
}

void DetailPanes::refreshPartItems()
{
    JobLockGuard guard(m_lock);
    const PartList* parts = partsOf(m_job);
    for (int i = 0; i < m_parts->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_parts->topLevelItem(i);
        const auto* part = reinterpret_cast<const JobPart*>(item->data(0, kPartRole).value<quintptr>());
        // Only parts still held by the runner are read; a gone one keeps its text.
        if (parts && std::any_of(parts->begin(), parts->end(), [part](const auto& p) { return p.get() == part; }))
            item->setText(1, partText(*part));
    }
}

const JobPart* DetailPanes::logPart() const
{
    const PartList* parts = partsOf(m_job);
    if (!parts || parts->empty())
        return nullptr;
    if (const QTreeWidgetItem* current = m_parts->currentItem()) {
        const auto* chosen = reinterpret_cast<const JobPart*>(current->data(0, kPartRole).value<quintptr>());
        for (const auto& part : *parts)
            if (part.get() == chosen)
                return chosen;
    }
    return parts->front().get();
}

void DetailPanes::colourLogItem(QTreeWidgetItem* item, LogKind kind) const
{
    OptionId fore = OptionId::ColorState;
    OptionId back = OptionId::ColorStateBk;
    switch (kind) {
    case LogKind::Status: break;
    case LogKind::Sent:
        fore = OptionId::ColorCommand;
        back = OptionId::ColorCommandBk;
        break;
    case LogKind::Error:
        fore = OptionId::ColorError;
        back = OptionId::ColorErrorBk;
        break;
    case LogKind::Received:
        fore = OptionId::ColorServer;
        back = OptionId::ColorServerBk;
        break;
    }
    const QColor foreground = colorFromColorRef(m_settings.GetOption(fore));
    const QColor background = colorFromColorRef(m_settings.GetOption(back));
    for (int c = 0; c < 2; ++c) {
        item->setForeground(c, foreground);
        item->setBackground(c, background);
    }
}

void DetailPanes::reloadLog()
{
    // A part keeps at most 200 lines, so the pane is refilled whole: that
    // also drops the lines that fell out of the part's log.
    m_log->clear();
    JobLockGuard guard(m_lock);
    const JobPart* part = logPart();
    if (!part)
        return;
    QList<QTreeWidgetItem*> items;
    for (const LogEntry& entry : part->log.entries()) {
        auto* item = new QTreeWidgetItem;
        char when[64] = {};
        std::tm local{};
        localtime_r(&entry.time, &local);
        std::strftime(when, sizeof when, "%x %X", &local);
        item->setText(0, QString::fromLocal8Bit(when));
        item->setText(1, QString::fromStdString(entry.text));
        item->setData(1, Qt::UserRole, static_cast<int>(entry.kind));
        colourLogItem(item, entry.kind);
        items.push_back(item);
    }
    m_log->addTopLevelItems(items);
    if (!items.isEmpty())
        m_log->scrollToItem(items.back());
}

void DetailPanes::reloadInfo()
{
    JobLockGuard guard(m_lock);
    if (!m_job) {
        m_info->clear();
        return;
    }
    JobInfo info;
    info.displayName = m_job->GetDisplayName();
    info.url = m_job->url;
    info.fileSize = m_job->fileSize;
    info.completedBytes = m_job->completedBytes;
    info.createTime = m_job->createTime;
    info.completeTime = m_job->completeTime;
    info.localPath = m_job->GetLocalPath();
    info.comment = m_job->comment();
    info.referer = m_job->referer;
    info.sizesInBytes = m_settings.GetOption(OptionId::SizesInBytes) != 0;
    QString text = QString::fromStdString(jobInfoText(info));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_info->setPlainText(text);
}

void DetailPanes::setLinkActions(std::function<void(std::vector<LinkChoice>)> add,
                                 std::function<void(const std::string& url)> open)
{
    m_links->setLinkActions(std::move(add), std::move(open));
}

void DetailPanes::reloadLinks()
{
    LinkPageSource source;
    {
        JobLockGuard guard(m_lock);
        source = linkPageSourceOf(m_job, m_settings.GetOptionText(OptionId::ExploreTypes));
    }
    // The page is read without the lock: the engine never writes a
    // completed job's file.
    m_links->showSource(source);
}

void DetailPanes::reloadGraph()
{
    std::vector<BlockState> cells;
    {
        JobLockGuard guard(m_lock);
        if (m_job) {
            std::vector<RunningSpan> running;
            if (const PartList* parts = partsOf(m_job))
                for (const auto& part : *parts)
                    if (part->isRunning())
                        running.push_back({part->position(), part->end});
            const int64_t blockBytes
                = int64_t{1024} * std::max<int64_t>(m_settings.GetOption(OptionId::BlockMapCellSize), 1);
            cells = blockMap(m_job->fileSize, m_job->completedRanges, running, blockBytes, m_blocks->capacity());
        }
    }
    m_blocks->setCells(std::move(cells));
    m_graph->update();
}

void DetailPanes::sampleSpeed()
{
    if (!m_job)
        return;
    int64_t speed = 0;
    {
        JobLockGuard guard(m_lock);
        speed = std::max<int64_t>(engineRunFigures(*m_job).shortSpeed, 0);
    }
    m_history.add(speed);
    m_graph->update();
}

}  // namespace fetchora
