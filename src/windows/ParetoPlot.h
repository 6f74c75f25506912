#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRect>
#include <QString>

#include <vector>

class QPainter;

namespace zyl {

struct FrontSnapshot;
using ParetoSnapshot = FrontSnapshot;

/// How a snapshot is drawn: a scatter of two objectives or parallel coordinates of them all.
struct ParetoView {
    bool parallel = false;
    int xObjective = 0;
    int yObjective = 1;
    /// The design drawn marked (the one clicked last), or -1.
    int selected = -1;
};

/// The colours of the three kinds of design; the front is drawn over the rest.
struct ParetoColours {
    static inline const QColor population{0xB4, 0xBE, 0xD2};
    static inline const QColor infeasible{0xE6, 0x78, 0x28};
    static inline const QColor front{0x00, 0x3C, 0xB4};
};

/// Where each design of a snapshot lands in a rectangle, and the drawing of it. Made for one
/// paint (or one click), so that what is drawn and what a click finds never disagree.
///
/// Values that are not finite are neither drawn nor part of a range. A range of one value is
/// widened by 1 either way; the scatter's ranges get a small margin, so that no design sits
/// on the frame.
class ParetoPlot {
  public:
    ParetoPlot(const ParetoSnapshot& snapshot, const ParetoView& view, const QRect& rect,
               const QFont& font);

    /// Draws axes, labels, titles, legend and designs (population, then infeasible designs,
    /// then the front, then the selected design marked), without background.
    void paint(QPainter& painter) const;

    /// The design drawn nearest to `pos` within `radius` pixels, the one drawn last among
    /// equals (it is the one on top); -1 when there is none.
    int designAt(QPointF pos, double radius = 6) const;

    /// Where design `design` is drawn on axis `axis` (the scatter has one); not finite when
    /// the design is not drawn there.
    QPointF position(int design, int axis = 0) const;

    /// The name of objective `k` as the axes show it ("Mass", "Strength (max)").
    static QString objectiveTitle(const ParetoSnapshot& snapshot, int k);

  private:
    struct Range {
        double lo = 0, hi = 1;
    };
    static Range rangeOf(const ParetoSnapshot& snapshot, int objective, bool margin);
    double toX(double value, const Range& range) const;
    double toY(double value, const Range& range) const;
    int axisCount() const { return m_view.parallel ? static_cast<int>(m_axes.size()) : 1; }
    /// The order the designs are drawn in: population, infeasible, front.
    std::vector<int> drawingOrder() const;
    void paintScatterAxes(QPainter& painter) const;
    void paintParallelAxes(QPainter& painter) const;
    void paintDesigns(QPainter& painter, const std::vector<int>& order) const;
    void paintLegend(QPainter& painter) const;

    const ParetoSnapshot& m_snapshot;
    ParetoView m_view;
    QRect m_rect;
    QRect m_plot;
    QFont m_font;
    int m_lineHeight = 0;
    /// The scatter's x and y ranges, or one per objective in parallel coordinates.
    std::vector<Range> m_axes;
    /// axisCount() positions per design, design after design.
    std::vector<QPointF> m_positions;
};

} // namespace zyl
