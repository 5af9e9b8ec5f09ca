#include "gui/zovirad_view.h"

#include <QHBoxLayout>
#include <QSplitter>
#include <QTreeWidget>

#include "shell/application.h"
#include "shell/column_sets.h"
#include "shell/main_view.h"
#include "shell/splitter_sizes.h"

namespace fetchora {

namespace {

constexpr std::string_view kFrameSection = "Main Frame";

Pane paneLayout(const QSplitter* across, const QSplitter* along)
{
    const QList<int> a = across->sizes();
    const QList<int> b = along->sizes();
    auto at = [](const QList<int>& sizes, int i) { return i < sizes.size() ? sizes[i] : 0; };
    Pane right
        = Pane::divided(PaneSplit::Along, Pane::leaf("list", at(b, 0)), Pane::leaf("detail", at(b, 1)), at(a, 1));
    return Pane::divided(PaneSplit::Across, Pane::leaf("tree", at(a, 0), true), std::move(right), 0);
}

}  // namespace

ZoviradView::ZoviradView(MainView& view, Application& app, QWidget* parent) : QWidget(parent), m_view(view), m_app(app)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_across = new QSplitter(Qt::Horizontal, this);
    m_along = new QSplitter(Qt::Vertical, m_across);
    m_across->insertWidget(0, new QTreeWidget(m_across));
    m_along->addWidget(new QWidget(m_along));
    m_along->addWidget(new QWidget(m_along));
    m_across->setStretchFactor(1, 1);
    layout->addWidget(m_across);
}

ZoviradView::~ZoviradView() = default;

void ZoviradView::saveState()
{
    Registry& registry = m_app.registry();
    writeSplitterSizes(registry, kFrameSection, paneLayout(m_across, m_along));
    ViewLayoutFlags flags;
    flags.raw = m_flagsRaw;
    flags.setDetailVisible(m_along->widget(1)->isVisible() || !isVisible());
    saveViewLayoutFlags(registry, flags);
}

void ZoviradView::restoreState()
{
    Registry& registry = m_app.registry();
    Pane root = paneLayout(m_across, m_along);
    if (readSplitterSizes(registry, kFrameSection, root) && root.children.size() == 2) {
        const Pane& right = root.children[1];
        m_across->setSizes({root.children[0].size, right.size});
        if (right.children.size() == 2)
            m_along->setSizes({right.children[0].size, right.children[1].size});
    }
    const ViewLayoutFlags flags = loadViewLayoutFlags(registry);
    m_flagsRaw = flags.raw;
    m_along->widget(1)->setVisible(flags.detailVisible());
}

}  // namespace fetchora
