#pragma once

#include "windows/RecordTables.h"

#include <QWidget>

class QTableView;

namespace zyl {

class Indiv;
class ZYL;

/// The Buffered window: one row per individual recorded in the buffer, in the order they were
/// recorded. Rows are never removed while the project is open.
class TForm3 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm3(const ZYL& zyl, QWidget* parent = nullptr);

    /// Adds the row of a new buffer entry; the list follows its end.
    void addBufferedRow(const Indiv& entry);

    IndividualTableModel& model() { return m_model; }
    QSize sizeHint() const override { return {544, 375}; }

    QTableView* ListView1;

  private:
    IndividualTableModel m_model;
};

} // namespace zyl
