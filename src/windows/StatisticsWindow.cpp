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
    // Wide enough for every name and for a real in its longest form.
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
                // The newest rows are enough: every block has the same kind of texts.
                const QFontMetrics metrics = ListView1->fontMetrics();
                for (int row = std::max(first, last - 63); row <= last; ++row)
                    m_infoWidth = std::max(
                        m_infoWidth, metrics.horizontalAdvance(m_model.cellText(row, 2)) + 16);
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
    const bool history = m_settings.statisticHistory;
    if (!history)
        m_model.clear();
    for (const StatisticsRow& row : statisticsRows(m_zyl, m_settings.showBuffered))
        m_model.appendRow({row.what, row.value, row.info});
    // One block replaced is shown at once: waiting would show the emptied list meanwhile.
    if (history)
        m_model.commit();
    else
        m_model.flush();
}

} // namespace zyl
