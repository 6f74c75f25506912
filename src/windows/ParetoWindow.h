#pragma once

#include "engine/Objectives.h"
#include "windows/ParetoPlot.h"
#include "windows/PictureWindow.h"

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTreeWidget;

namespace zyl {

/// One design of a multi-objective population as the Pareto window shows it (values as
/// computed, feasible when `violation` is 0), and a generation of them: the engine's own
/// records, handed over whole so that the window never reads the engine while a run goes on.
using ParetoPoint = FrontPoint;
using ParetoSnapshot = FrontSnapshot;

/// The Pareto window of a multi-objective task: the designs of the latest population as a
/// scatter of two objectives the user chooses (the population faint, the front strong,
/// infeasible designs in a colour of their own), or, with three objectives or more, as
/// parallel coordinates. A click on a design lists its objectives and variables beside the
/// plot, and resting the mouse on one shows them in a tip. The popup menu saves and copies
/// the picture as a chart window's does.
class TPareto : public PictureWindow {
    Q_OBJECT

  public:
    explicit TPareto(QWidget* parent = nullptr);
    ~TPareto() override;

    /// Shows `snapshot` in place of the one before. The objectives chosen for the axes and
    /// the view stay while the objectives keep their names; the design clicked last stays
    /// marked while the population holds it.
    void showSnapshot(const ParetoSnapshot& snapshot);
    const ParetoSnapshot& snapshot() const { return m_snapshot; }

    /// The view as the controls set it.
    ParetoView view() const { return m_view; }
    /// Marks design `design` of the snapshot and lists it beside the plot (-1: none).
    void selectDesign(int design);

    /// The design drawn at `pos` of the plot widget, or -1.
    int designAt(QPoint pos) const;
    /// The text of a design's tip: its objectives, its violation when it has one, then its
    /// variables.
    QString designText(int design) const;

    /// Paints the plot (no background) into `rect` of any painter: screen, image or SVG.
    void paintPlot(QPainter& painter, const QRect& rect) const;
    /// The plot on its background, the size of the plot widget; null below 3 x 3 pixels.
    QImage bitmap() const override;
    /// The plot painted afresh as an SVG document of the plot widget's size, no background.
    QByteArray svgDocument() const override;
    QMenu* popupMenu() const { return PopupMenu1; }
    QSize sizeHint() const override { return {560, 400}; }

    QComboBox* ComboBoxX;
    QComboBox* ComboBoxY;
    /// "Scatter" or "Parallel coordinates"; enabled with three objectives or more.
    QComboBox* ComboBoxView;
    /// The generation and how many designs of each kind it has.
    QLabel* LabelSummary;
    /// The widget the plot is painted on; clicks and tips are taken here.
    QWidget* PaintBoxPlot;
    /// The design clicked last: Name, Value.
    QTreeWidget* ListViewDesign;

  private:
    friend class ParetoPaintBox;
    void buildMenu();
    /// Refills the axis choices, keeping the objectives of these names where they are still.
    void fillAxisChoices(const std::string& keepX, const std::string& keepY);
    void takeControls();
    void listDesign(int design);
    void paintBackground(QPainter& painter, const QRect& rect) const;

    ParetoSnapshot m_snapshot;
    ParetoView m_view;

    QMenu* PopupMenu1 = nullptr;
    QAction* Backgroundcolor1 = nullptr;
};

} // namespace zyl
