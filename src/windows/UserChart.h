#pragma once

#include "windows/ChartModel.h"

#include <QPointer>

#include <array>
#include <cstddef>
#include <vector>

namespace zyl {

class TForm1;
struct UserPlot;

/// One user plot on screen: a chart window captioned with the plot's title, with one pen and
/// one series per expression. The core computes the points; this copies them into the chart.
class UserChart {
  public:
    /// Pen colours by expression index modulo 5: black, red, blue, green, purple.
    static constexpr std::array<ColourValue, 5> palette{0x000000, 0x0000FF, 0xFF0000, 0x008000,
                                                        0x800080};

    /// Gives `form` its caption and a chart for `plot`: x title "Population" with whole-number
    /// grid, y title "Value", and for each expression a solid pen of width 1 and its series.
    /// Points the plot already has are shown at once.
    UserChart(const UserPlot& plot, TForm1* form);

    /// Appends the points the plot has gained since the last call and repaints. Each series
    /// catches up on its own, so a generation whose evaluation stopped part way through
    /// leaves nothing out of step.
    void update(const UserPlot& plot);

    /// The window, or null once it has been closed and destroyed.
    TForm1* form() const { return m_form; }
    /// The chart's series, in the order of the expressions.
    const std::vector<PolyLine*>& series() const { return m_series; }

  private:
    QPointer<TForm1> m_form;
    std::vector<PolyLine*> m_series;
    std::vector<std::size_t> m_shown;
};

} // namespace zyl
