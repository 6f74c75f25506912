#pragma once

#include "engine/RunHooks.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace zyl {

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TStatistics;
class UserChart;
class ZYL;
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
};

/// The result windows of one loaded project, as children of the MDI area: the Statistics
/// window, one chart per user plot, and the Population, Buffered and Variables windows when
/// the settings ask for them, placed in a cascade. Closing one by hand only minimises it;
/// destroying this destroys them. The run's observer calls that concern them are forwarded
/// here.
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

    /// Shows every row stored so far at once (the lists otherwise batch a fast run's rows).
    void flush();

    // The windows, or null when not made.
    TStatistics* statisticsWindow() const;
    TForm2* populationWindow() const;
    TForm3* bufferedWindow() const;
    TForm4* variablesWindow() const;
    const std::vector<std::unique_ptr<UserChart>>& charts() const { return m_charts; }

  private:
    QMdiSubWindow* addWindow(QWidget* window);

    ResultContext m_context;
    std::vector<QPointer<QMdiSubWindow>> m_frames;
    QPointer<TStatistics> m_statistics;
    std::vector<std::unique_ptr<UserChart>> m_charts;
    QPointer<TForm2> m_population;
    QPointer<TForm3> m_buffered;
    QPointer<TForm4> m_variables;
};

} // namespace zyl
