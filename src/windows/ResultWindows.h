#pragma once

#include "engine/RunHooks.h"
#include "engine/Statistics.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace zyl {

class DialogFolder;
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TPareto;
class TStatistics;
class UserChart;
class ZYL;
struct FrontSnapshot;
using ParetoSnapshot = FrontSnapshot;
struct ProjectSettings;
struct UserPlot;

/// What the result windows of a loaded project show and where.
struct ResultContext {
    QMdiArea* area;
    ZYL& zyl;
    ProjectSettings& settings;
    const std::vector<UserPlot>& plots;
    /// Shows a warning box with the text (a value typed that is not a number).
    std::function<void(const QString&)> warning;
    /// A manual task has every value of its generation: start the run.
    std::function<void()> runWhenComplete;
    /// A value was typed for individual `index` of the population.
    std::function<void(int index)> valueTyped = {};
    /// Where the charts' Save to file starts and what it remembers; none when null.
    std::shared_ptr<DialogFolder> dialogFolder = {};
    /// Set for a multi-objective task only: fills in the designs of the population whose
    /// statistics were just computed. The Pareto window is made when it is set, and shows what
    /// it fills in each generation.
    std::function<void(ParetoSnapshot&)> paretoSnapshot = {};
    /// Nothing can be typed into the windows (another process writes the project's store).
    bool readOnly = false;
};

/// The result windows of one loaded project, as children of the MDI area: the Statistics
/// window, one chart per user plot, the Pareto window of a multi-objective task, and the
/// Population, Buffered and Variables windows when the settings ask for them, placed in a cascade. Closing one by hand only minimises it;
/// destroying this destroys them. The run's observer calls that concern them are forwarded
/// here.
///
/// A run may pass many generations a second; the windows keep every generation's data (the
/// statistic and population histories, every plot point) but are repainted at display rate:
/// each observer call stores what it brings and marks the window, and a timer shows the marked
/// windows at most every `refreshInterval`. flush() shows everything at once.
class ResultWindows : public RunObserver {
  public:
    explicit ResultWindows(ResultContext context);
    ~ResultWindows() override;
    ResultWindows(const ResultWindows&) = delete;
    ResultWindows& operator=(const ResultWindows&) = delete;

    void evaluatedValue(int index) override;
    void buffered(const Indiv& entry) override;
    void statistics() override;
    void plotUpdated(std::size_t plot) override;
    void populationChanged() override;

    /// A generation's statistics rows as a run store keeps them (a store reopened or
    /// watched), in the place of statistics(): with the statistic history a block more,
    /// otherwise the block shown from the next refresh on.
    void storedStatistics(const std::vector<StatisticsRow>& rows);

    /// Shows everything stored so far at once (the windows otherwise catch up at display
    /// rate).
    void flush();

    static constexpr int refreshInterval = 50; // milliseconds

    // The windows, or null when not made.
    TStatistics* statisticsWindow() const;
    TForm2* populationWindow() const;
    TForm3* bufferedWindow() const;
    TForm4* variablesWindow() const;
    TPareto* paretoWindow() const;
    const std::vector<std::unique_ptr<UserChart>>& charts() const { return m_charts; }

  private:
    QMdiSubWindow* addWindow(QWidget* window);
    void scheduleRefresh();
    void takeParetoSnapshot();
    void refresh();

    ResultContext m_context;
    std::vector<QPointer<QMdiSubWindow>> m_frames;
    QPointer<TStatistics> m_statistics;
    std::vector<std::unique_ptr<UserChart>> m_charts;
    QPointer<TForm2> m_population;
    QPointer<TForm3> m_buffered;
    QPointer<TForm4> m_variables;
    QPointer<TPareto> m_pareto;

    QTimer m_refreshTimer;
    // What the next refresh shows.
    StatisticsSnapshot m_statisticsSnapshot;
    bool m_statisticsPending = false;
    /// Rows from a store, in the place of the snapshot's.
    std::optional<std::vector<StatisticsRow>> m_storedRows;
    bool m_populationPending = false;
    bool m_captionsPending = false;
    std::vector<bool> m_plotsPending;
    std::unique_ptr<ParetoSnapshot> m_paretoSnapshot;
    bool m_paretoPending = false;
};

} // namespace zyl
