#pragma once

#include "windows/RecordTables.h"

#include <QWidget>

class QTableView;

namespace zyl {

class ZYL;

/// The Variables window: each decision variable's name, type and range. The variables do
/// not change while a project is open, so the rows are written once, when the window is made.
class TForm4 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm4(const ZYL& zyl, QWidget* parent = nullptr);

    TextTableModel& model() { return m_model; }
    QSize sizeHint() const override { return {544, 375}; }

    QTableView* ListView1;

  private:
    TextTableModel m_model;
};

} // namespace zyl
