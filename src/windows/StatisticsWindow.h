#pragma once

#include "engine/Statistics.h"
#include "windows/RecordTables.h"

#include <QWidget>

class QTableView;

namespace zyl {

class ZYL;
struct ProjectSettings;

/// The Statistics window: one block of rows (What?, Value, Info) for the latest generation,
/// or one block per generation with the statistic history on.
class TStatistics : public QWidget {
    Q_OBJECT
  public:
    TStatistics(const ZYL& zyl, const ProjectSettings& settings, QWidget* parent = nullptr);

    /// Adds the block of the generation whose statistics were just computed; without history
    /// it replaces the previous block.
    void showStatistics();
    /// The same with rows made earlier by statisticsRows (for a window that catches up).
    void showRows(const std::vector<StatisticsRow>& rows);

    TextTableModel& model() { return m_model; }
    QSize sizeHint() const override { return {351, 301}; }

    QTableView* ListView1;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void fitInfoColumn();

    const ZYL& m_zyl;
    const ProjectSettings& m_settings;
    TextTableModel m_model;
    int m_infoWidth = 0; // what the widest Info text of the latest rows needs
    int m_blockRows = 0; // rows of the latest block
};

} // namespace zyl
