#include "windows/StatisticsWindow.h"

#include "engine/Statistics.h"
#include "script/ProjectSettings.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace zyl {

TStatistics::TStatistics(const ZYL& zyl, const ProjectSettings& settings, QWidget* parent)
    : QWidget(parent), m_zyl(zyl), m_settings(settings),
      m_model({QStringLiteral("What?"), QStringLiteral("Value"), QStringLiteral("Info")})
{
    setWindowTitle(QStringLiteral("Statistics"));
    ListView1 = makeReportView(&m_model, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
    // Wide enough for the usual names and for a real in its longest form; the names column
    // grows for longer names as their rows come (the constraints' rows, say).
    const QFontMetrics metrics = ListView1->fontMetrics();
    ListView1->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("MedianDev")) + 16);
    ListView1->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("-8.88888e-308")) + 16);
    if (m_settings.statisticHistory)
        followEnd(ListView1);
    // The Info column takes the rest of the width, and more where its texts need it (the list
    // then scrolls sideways) instead of cutting them.
    ListView1->horizontalHeader()->setStretchLastSection(false);
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] {
        m_infoWidth = 0;
        fitInfoColumn();
    });
    connect(&m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                // The newest block is enough: every block has the same kind of texts. A task
                // of many objectives or constraints has long blocks, each of its own names.
                const QFontMetrics metrics = ListView1->fontMetrics();
                int names = ListView1->columnWidth(0);
                const int newest = std::max(64, m_blockRows);
                for (int row = std::max(first, last - newest + 1); row <= last; ++row) {
                    names = std::max(names,
                                     metrics.horizontalAdvance(m_model.cellText(row, 0)) + 16);
                    m_infoWidth = std::max(
                        m_infoWidth, metrics.horizontalAdvance(m_model.cellText(row, 2)) + 16);
                }
                ListView1->setColumnWidth(0, names);
                fitInfoColumn();
            });
    ListView1->viewport()->installEventFilter(this);
    resize(sizeHint());
}

bool TStatistics::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListView1->viewport() && event->type() == QEvent::Resize)
        fitInfoColumn();
    return QWidget::eventFilter(watched, event);
}

void TStatistics::fitInfoColumn()
{
    const int rest =
        ListView1->viewport()->width() - ListView1->columnWidth(0) - ListView1->columnWidth(1);
    ListView1->setColumnWidth(2, std::max(rest, m_infoWidth));
}

void TStatistics::showStatistics()
{
    showRows(statisticsRows(m_zyl, m_settings.showBuffered));
}

void TStatistics::showRows(const std::vector<StatisticsRow>& rows)
{
    const bool history = m_settings.statisticHistory;
    m_blockRows = static_cast<int>(rows.size());
    if (!history) {
        // The same rows with new values: only the texts change.
        std::vector<std::vector<std::string>> cells;
        cells.reserve(rows.size());
        for (const StatisticsRow& row : rows)
            cells.push_back({row.what, row.value, row.info});
        if (m_model.replaceRows(cells))
            return;
        m_model.clear();
    }
    for (const StatisticsRow& row : rows)
        m_model.appendRow({row.what, row.value, row.info});
    // One block replaced is shown at once: waiting would show the emptied list meanwhile.
    if (history)
        m_model.commit();
    else
        m_model.flush();
}

} // namespace zyl
