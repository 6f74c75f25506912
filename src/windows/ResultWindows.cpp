#include "windows/ResultWindows.h"

#include "engine/UserPlots.h"
#include "engine/Zyl.h"
#include "script/ProjectSettings.h"
#include "windows/BufferedWindow.h"
#include "windows/ChartWindow.h"
#include "windows/MdiLayout.h"
#include "windows/ParetoWindow.h"
#include "windows/PopulationWindow.h"
#include "windows/StatisticsWindow.h"
#include "windows/UserChart.h"
#include "windows/VariablesWindow.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace zyl {

namespace {

/// Turns the closing of a result window into minimising it: the windows live as long as the
/// project (a manual task's Population window is where its values are typed), and the Window
/// menu brings one back. Close all destroys them without closing them.
class MinimiseOnClose : public QObject {
  public:
    explicit MinimiseOnClose(QObject* parent) : QObject(parent) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close)
            return false;
        event->ignore();
        if (auto* frame = qobject_cast<QMdiSubWindow*>(watched))
            frame->showMinimized();
        return true;
    }
};

} // namespace

ResultWindows::ResultWindows(ResultContext context) : m_context(std::move(context))
{
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshInterval);
    QObject::connect(&m_refreshTimer, &QTimer::timeout, [this] { refresh(); });
    m_statistics = new TStatistics(m_context.zyl, m_context.settings);
    addWindow(m_statistics);
    for (const UserPlot& plot : m_context.plots) {
        auto* form = new TForm1;
        form->setDialogFolder(m_context.dialogFolder);
        m_charts.push_back(std::make_unique<UserChart>(plot, form));
        addWindow(form);
    }
    if (m_context.paretoSnapshot) {
        m_pareto = new TPareto;
        m_pareto->setDialogFolder(m_context.dialogFolder);
        m_paretoSnapshot = std::make_unique<ParetoSnapshot>();
        addWindow(m_pareto);
    }
    if (m_context.settings.showPopulation) {
        TForm2::Hooks hooks{m_context.warning, m_context.runWhenComplete, this,
                            m_context.valueTyped, m_context.readOnly};
        m_population = new TForm2(m_context.zyl, m_context.settings, std::move(hooks));
        addWindow(m_population);
        m_population->fillPopulationList(m_context.settings.populationHistory);
    }
    if (m_context.settings.showBuffered) {
        m_buffered = new TForm3(m_context.zyl);
        addWindow(m_buffered);
        // What the buffer holds already: a reopened store's, another run's reused evaluations.
        for (const Indiv& entry : m_context.zyl.buffer.entries())
            m_buffered->addBufferedRow(entry);
        m_buffered->model().flush();
    }
    if (m_context.settings.showVariables) {
        m_variables = new TForm4(m_context.zyl);
        addWindow(m_variables);
    }
}

ResultWindows::~ResultWindows()
{
    // The charts only point into their windows' charts; drop them before the windows go.
    m_charts.clear();
    for (const QPointer<QMdiSubWindow>& frame : m_frames)
        delete frame.data();
}

TStatistics* ResultWindows::statisticsWindow() const { return m_statistics; }
TForm2* ResultWindows::populationWindow() const { return m_population; }
TForm3* ResultWindows::bufferedWindow() const { return m_buffered; }
TForm4* ResultWindows::variablesWindow() const { return m_variables; }
TPareto* ResultWindows::paretoWindow() const { return m_pareto; }

QMdiSubWindow* ResultWindows::addWindow(QWidget* window)
{
    // A window's default size is that of its frame, title bar included.
    const QSize size = window->sizeHint();
    QMdiSubWindow* frame = m_context.area->addSubWindow(window);
    frame->resize(size);
    frame->move(cascadePosition(m_context.area, static_cast<int>(m_frames.size())));
    frame->installEventFilter(new MinimiseOnClose(frame));
    frame->show();
    m_frames.emplace_back(frame);
    return frame;
}

void ResultWindows::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void ResultWindows::evaluatedValue(int index)
{
    // A population still to be filled shows the value when it is.
    if (!m_population || m_populationPending)
        return;
    m_population->showEvaluatedValue(index, /*announce=*/false);
    m_captionsPending = true;
    scheduleRefresh();
}

void ResultWindows::buffered(const Indiv& entry)
{
    // The Buffered list keeps every entry and announces new rows in batches of its own.
    if (m_buffered)
        m_buffered->addBufferedRow(entry);
}

void ResultWindows::takeParetoSnapshot()
{
    if (!m_pareto)
        return;
    m_context.paretoSnapshot(*m_paretoSnapshot);
    m_paretoPending = true;
    scheduleRefresh();
}

void ResultWindows::statistics()
{
    // Taken now, like the statistics: the next generation replaces the population.
    takeParetoSnapshot();
    if (!m_statistics)
        return;
    if (m_context.settings.statisticHistory) {
        // Every block is kept; the list announces new rows in batches of its own.
        m_statistics->showStatistics();
        return;
    }
    // Taken now: the rows describe this population, which the next generation replaces.
    takeStatisticsSnapshot(m_context.zyl, m_statisticsSnapshot);
    m_storedRows.reset();
    m_statisticsPending = true;
    scheduleRefresh();
}

void ResultWindows::storedStatistics(const std::vector<StatisticsRow>& rows)
{
    if (!m_statistics)
        return;
    if (m_context.settings.statisticHistory) {
        m_statistics->showRows(rows);
        return;
    }
    m_storedRows = rows;
    m_statisticsPending = true;
    scheduleRefresh();
}

void ResultWindows::plotUpdated(std::size_t plot)
{
    if (m_plotsPending.size() < m_charts.size())
        m_plotsPending.resize(m_charts.size(), false);
    if (plot >= m_plotsPending.size())
        return;
    m_plotsPending[plot] = true;
    scheduleRefresh();
}

void ResultWindows::populationChanged()
{
    // A population put in place without a run (a stored one opened or watched) brings the
    // method's own with it.
    takeParetoSnapshot();
    if (!m_population)
        return;
    // With the history each generation's block is kept; a manual task's rows are where the
    // user types next, so they are there at once.
    if (m_context.settings.populationHistory ||
        m_context.settings.functionMode == FunctionMode::Manual) {
        m_population->showNotedValues();
        m_population->fillPopulationList(m_context.settings.populationHistory);
        return;
    }
    // Only the latest generation is shown: fill it from the population when it is shown.
    m_populationPending = true;
    m_captionsPending = false;
    scheduleRefresh();
}

void ResultWindows::refresh()
{
    m_refreshTimer.stop();
    if (m_statisticsPending && m_statistics)
        m_statistics->showRows(
            m_storedRows ? *m_storedRows
                         : statisticsRows(m_statisticsSnapshot, m_context.settings.showBuffered));
    m_statisticsPending = false;
    m_storedRows.reset();
    if (m_population) {
        if (m_populationPending)
            m_population->fillPopulationList(/*keepHistory=*/false);
        else if (m_captionsPending)
            m_population->showNotedValues();
    }
    m_populationPending = false;
    m_captionsPending = false;
    if (m_paretoPending && m_pareto)
        m_pareto->showSnapshot(*m_paretoSnapshot);
    m_paretoPending = false;
    for (std::size_t p = 0; p < m_plotsPending.size(); ++p) {
        if (m_plotsPending[p] && p < m_charts.size() && p < m_context.plots.size())
            m_charts[p]->update(m_context.plots[p]);
        m_plotsPending[p] = false;
    }
}

void ResultWindows::flush()
{
    refresh();
    if (m_statistics)
        m_statistics->model().flush();
    if (m_population)
        m_population->model().flush();
    if (m_buffered)
        m_buffered->model().flush();
}

} // namespace zyl
