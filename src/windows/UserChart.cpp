#include "windows/UserChart.h"

#include "engine/UserPlots.h"
#include "windows/ChartWindow.h"

#include <memory>

namespace zyl {

UserChart::UserChart(const UserPlot& plot, TForm1* form) : m_form(form)
{
    auto chart = std::make_unique<Chart>("Population", "Value");
    chart->floatingX = false;
    chart->floatingY = true;
    for (std::size_t i = 0; i < plot.expressions.size(); ++i) {
        chart->addPen(PenStyle::Solid, palette[i % palette.size()], 1);
        m_series.push_back(&chart->addPolyLine());
    }
    m_shown.assign(m_series.size(), 0);
    form->setWindowTitle(QString::fromStdString(plot.title));
    form->setChart(std::move(chart));
    update(plot);
}

void UserChart::update(const UserPlot& plot)
{
    // NOTE: the series belong to the window's chart; without the window they are gone.
    if (!m_form)
        return;
    const std::size_t count = std::min(m_series.size(), plot.series.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<PlotPoint>& points = plot.series[i];
        for (std::size_t p = m_shown[i]; p < points.size(); ++p)
            m_series[i]->append(points[p].x, points[p].y);
        m_shown[i] = std::max(m_shown[i], points.size());
    }
    m_form->update();
}

} // namespace zyl
