#include "windows/ResultWindows.h"

#include "common/TextConvert.h"
#include "engine/Task.h"
#include "engine/UserPlots.h"
#include "project/Loader.h"
#include "windows/BufferedWindow.h"
#include "windows/ChartWindow.h"
#include "windows/ParetoWindow.h"
#include "windows/PopulationWindow.h"
#include "windows/StatisticsWindow.h"
#include "windows/UserChart.h"
#include "windows/VariablesWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <QStyle>

#include <gtest/gtest.h>

#include <memory>

using namespace zyl;

namespace {

/// A loaded project with its result windows in an MDI area; runs go through the windows as
/// the main window forwards them.
class Windows : public ::testing::Test {
  protected:
    Windows() { table.registerBuiltinSymbols(); }

    void load(const std::string& text, std::uint64_t seed = 7)
    {
        script = ProjectScript::fromText(text);
        script.StripBlanks();
        rng.reseed(seed);
        project = loadProject(script, settings, table, rng);
        windows = std::make_unique<ResultWindows>(
            ResultContext{&area, *project.zyl, settings, project.plots,
                          [this](const QString& text) { warnings << text; }, [] {}});
    }

    void run()
    {
        Task task(RunContext{*project.zyl, settings, script, table, project.plots}, sync,
                  *windows);
        task.execute();
        windows->flush();
    }

    static std::string task(const std::string& extra, int size = 6)
    {
        return "[FUNCTION]\nanalytical=1\n[EQUATIONS]\nf=x1^2+n\n[VARIABLES]\nx1=real[0;0.5]\n"
               "n=integer[-3;3]\nb=boolean\n[POPULATION]\nsize=" +
               std::to_string(size) + "\n" + extra;
    }

    QMdiArea area;
    SymbolTable table;
    ProjectSettings settings;
    ProjectScript script;
    LcgRng rng{1};
    LoadedProject project;
    DirectSynchronizer sync;
    std::unique_ptr<ResultWindows> windows;
    QStringList warnings;
};

std::vector<QString> column(const AppendOnlyTableModel& model, int col, int from, int to)
{
    std::vector<QString> out;
    for (int r = from; r < to; ++r) {
        if (auto* t = dynamic_cast<const TextTableModel*>(&model))
            out.push_back(t->cellText(r, col));
        else
            out.push_back(dynamic_cast<const IndividualTableModel&>(model).cellText(r, col));
    }
    return out;
}

} // namespace

TEST_F(Windows, TheLoaderAsksForTheWindowsTheSettingsName)
{
    load(task("[PLOTS]\nConvergence=Average;CurrentMin\nSpread=StdDev\n[SHOW]\nvariables=1\n"));
    QStringList titles;
    for (QMdiSubWindow* frame : area.subWindowList())
        titles << frame->widget()->windowTitle();
    EXPECT_EQ(titles, (QStringList{"Statistics", "Convergence", "Spread", "Variables"}));
    EXPECT_EQ(windows->populationWindow(), nullptr);
    EXPECT_EQ(windows->bufferedWindow(), nullptr);
    EXPECT_EQ(area.subWindowList().front()->size(), QSize(351, 301));

    windows.reset();
    EXPECT_TRUE(area.subWindowList().isEmpty());
}

TEST_F(Windows, PlotSeriesTakeThePaletteAndTheCorePoints)
{
    load(task("[OPTIONS]\nloop_counter=4\n[PLOTS]\nMany=Average;CurrentMin;Average*2;StdDev;"
              "Range;Average\n"));
    run();
    ASSERT_EQ(windows->charts().size(), 1u);
    const UserChart& chart = *windows->charts().front();
    ASSERT_NE(chart.form(), nullptr);
    EXPECT_EQ(chart.form()->windowTitle(), "Many");
    const Chart* model = chart.form()->chart();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->xTitle, "Population");
    EXPECT_FALSE(model->floatingX);
    EXPECT_TRUE(model->floatingY);

    // Items alternate pen and series; the sixth pen starts the palette again.
    std::vector<ColourValue> colours;
    int seriesSeen = 0;
    for (const GraphObject& item : model->items) {
        if (auto* pen = dynamic_cast<const Pen*>(&item)) {
            EXPECT_EQ(static_cast<int>(colours.size()), seriesSeen);
            EXPECT_EQ(pen->style, PenStyle::Solid);
            EXPECT_EQ(pen->width, 1);
            colours.push_back(pen->colour);
        } else if (dynamic_cast<const PolyLine*>(&item)) {
            EXPECT_EQ(&item, chart.series()[static_cast<std::size_t>(seriesSeen)]);
            ++seriesSeen;
        }
    }
    EXPECT_EQ(colours, (std::vector<ColourValue>{0x000000, 0x0000FF, 0xFF0000, 0x008000, 0x800080,
                                                 0x000000}));

    const UserPlot& plot = project.plots.front();
    for (std::size_t i = 0; i < 6; ++i) {
        std::vector<std::pair<float, float>> shown, computed;
        for (const DPoint& p : chart.series()[i]->points())
            shown.emplace_back(p.x, p.y);
        for (const PlotPoint& p : plot.series[i])
            computed.emplace_back(p.x, p.y);
        EXPECT_EQ(shown, computed) << "series " << i;
        EXPECT_EQ(shown.size(), 4u);
    }
    int g = 1;
    for (const DPoint& p : chart.series()[2]->points()) {
        EXPECT_EQ(p.x, static_cast<float>(g++));
        EXPECT_FLOAT_EQ(p.y, 2 * plot.series[0][static_cast<std::size_t>(g - 2)].y);
    }
}

TEST_F(Windows, ASeriesLeftBehindByAFailedGenerationCatchesUp)
{
    UserPlot plot = createUserPlot("P", "a;b");
    TForm1 form;
    UserChart chart(plot, &form);
    plot.series[0].push_back({1, 10});
    plot.series[1].push_back({1, 20});
    chart.update(plot);
    // A generation that stopped after the first expression, then a complete one.
    plot.series[0].push_back({2, 11});
    plot.series[0].push_back({3, 12});
    plot.series[1].push_back({3, 22});
    chart.update(plot);
    ASSERT_EQ(chart.series()[0]->size(), 3u);
    ASSERT_EQ(chart.series()[1]->size(), 2u);
    EXPECT_EQ(chart.series()[1]->points().last()->item->x, 3.0f);
    chart.update(plot);
    EXPECT_EQ(chart.series()[0]->size(), 3u);
}

TEST_F(Windows, StatisticsShowOneBlockOrOnePerGeneration)
{
    struct Case {
        std::string show;
        int rowsPerBlock;
        int blocks;
    };
    for (const Case& c : {Case{"buffered=0\nstatistic_history=0", 18, 1},
                          Case{"buffered=1\nstatistic_history=0", 19, 1},
                          Case{"buffered=0\nstatistic_history=1", 18, 3},
                          Case{"buffered=1\nstatistic_history=1", 19, 3}}) {
        SCOPED_TRACE(c.show);
        load(task("[OPTIONS]\nloop_counter=3\n[SHOW]\n" + c.show + "\n"));
        run();
        const TextTableModel& model = windows->statisticsWindow()->model();
        ASSERT_EQ(model.rowCount(), c.rowsPerBlock * c.blocks);
        for (int b = 0; b < c.blocks; ++b) {
            const int first = b * c.rowsPerBlock;
            EXPECT_EQ(model.cellText(first, 0), "Generation");
            EXPECT_EQ(model.cellText(first, 1).toInt(), b + 1 + (3 - c.blocks));
            EXPECT_EQ(model.cellText(first, 2), "6 individuals");
            const int last = first + c.rowsPerBlock - 1;
            EXPECT_EQ(column(model, 0, last, last + 1).front(), "");
            EXPECT_EQ(model.cellText(last - 3, 0), c.rowsPerBlock == 19 ? "Buffered" : "Different");
        }
        // The latest block holds the engine's latest statistics.
        const int average = model.rowCount() - c.rowsPerBlock + 5;
        EXPECT_EQ(model.cellText(average, 0), "Average");
        EXPECT_EQ(model.cellText(average, 1).toStdString(), realToText(project.zyl->average));
        windows.reset();
    }
}

TEST_F(Windows, PopulationRowsFollowTheGenerations)
{
    load(task("[OPTIONS]\nloop_counter=2\n[SHOW]\npopulation=1\npopulation_history=1\n"));
    const IndividualTableModel& model = windows->populationWindow()->model();
    ASSERT_EQ(model.rowCount(), 7);
    EXPECT_EQ(column(model, 0, 0, 6), std::vector<QString>(6, "?"));
    EXPECT_EQ(model.cellText(6, 0), "");
    EXPECT_EQ(model.cellText(6, 1), "");
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "n");

    // Values shown while evaluating: the first block's captions are the values of the
    // generation that was then current, whose mean the statistics give.
    settings.loopCounter = 1;
    run();
    ASSERT_EQ(model.rowCount(), 14);
    double sum = 0;
    for (const QString& caption : column(model, 0, 0, 6)) {
        ASSERT_NE(caption, "?");
        sum += caption.toDouble();
    }
    EXPECT_NEAR(sum / 6, project.zyl->average, 1e-4);
    EXPECT_EQ(model.cellText(13, 0), "");

    // The last block shows the current population: unevaluated, variables as their own text.
    for (int i = 0; i < 6; ++i) {
        const Indiv& ind = project.zyl->population[static_cast<std::size_t>(i)];
        EXPECT_EQ(model.cellText(7 + i, 0), "?");
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(model.cellText(7 + i, j + 1).toStdString(), ind.gene(j)->valueText());
    }
}

TEST_F(Windows, PopulationWithoutHistoryKeepsOneBlock)
{
    load(task("[OPTIONS]\nloop_counter=3\n[SHOW]\npopulation=1\nbuffered=1\n"
              "buffer_individuals=1\n"));
    run();
    const IndividualTableModel& model = windows->populationWindow()->model();
    ASSERT_EQ(model.rowCount(), 7);
    for (int i = 0; i < 6; ++i) {
        const Indiv& ind = project.zyl->population[static_cast<std::size_t>(i)];
        // With the buffer on, a member seen before already has its value.
        EXPECT_EQ(model.cellText(i, 0).toStdString(), ind.evaluated ? realToText(ind.value) : "?");
    }
    const IndividualTableModel& buffered = windows->bufferedWindow()->model();
    ASSERT_EQ(static_cast<std::size_t>(buffered.rowCount()), project.zyl->buffer.size());
    int r = 0;
    for (const Indiv& entry : project.zyl->buffer.entries()) {
        EXPECT_EQ(buffered.cellText(r, 0).toStdString(), realToText(entry.value));
        EXPECT_EQ(buffered.cellText(r, 3).toStdString(), entry.gene(2)->valueText());
        ++r;
    }
}

TEST_F(Windows, TheSelectedRowAndAListScrolledBackStayAsGenerationsCome)
{
    load(task("[SHOW]\npopulation=1\nstatistic_history=1\n", 40));
    area.resize(900, 700);
    area.show();
    for (int g = 0; g < 3; ++g)
        run();
    QApplication::processEvents();
    QTableView* population = windows->populationWindow()->ListView1;
    population->selectRow(5);
    population->verticalScrollBar()->setValue(3);
    QScrollBar* statistics = windows->statisticsWindow()->ListView1->verticalScrollBar();
    ASSERT_GT(statistics->maximum(), 0);
    EXPECT_EQ(statistics->value(), statistics->maximum()); // it has followed the end
    statistics->setValue(0);
    run();
    run();
    QApplication::processEvents();
    EXPECT_EQ(statistics->value(), 0);
    const QModelIndexList selected = population->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().row(), 5);
    EXPECT_EQ(population->verticalScrollBar()->value(), 3);
    // Back at the end, it follows the end again.
    statistics->setValue(statistics->maximum());
    run();
    QApplication::processEvents();
    EXPECT_EQ(statistics->value(), statistics->maximum());
}

TEST_F(Windows, VariablesShowTypesAndRanges)
{
    load(task("[SHOW]\nvariables=1\n"));
    const TextTableModel& model = windows->variablesWindow()->model();
    ASSERT_EQ(model.rowCount(), 3);
    const std::vector<std::vector<QString>> expected{
        {"x1", "Real", "[0; 0.5]"}, {"n", "Integer", "[-3; 3]"}, {"b", "Boolean", "{0, 1}"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(model.cellText(r, c), expected[r][c]) << r << "," << c;
}

TEST_F(Windows, ObserverCallsAreShownAtDisplayRate)
{
    // Without the history only the latest generation is shown: the calls store it, the
    // refresh (or flush) shows it once, whatever the number of generations in between.
    load(task("[SHOW]\npopulation=1\n[PLOTS]\nP=Average\n[OPTIONS]\nloop_counter=1\n"));
    run();
    const TextTableModel& statistics = windows->statisticsWindow()->model();
    const IndividualTableModel& population = windows->populationWindow()->model();
    const QString shownGeneration = statistics.cellText(0, 1);
    for (int g = 0; g < 5; ++g) {
        project.zyl->generation += 1;
        windows->statistics();
        windows->populationChanged();
        windows->plotUpdated(0);
    }
    EXPECT_EQ(statistics.cellText(0, 1), shownGeneration);
    windows->flush();
    EXPECT_EQ(statistics.cellText(0, 1).toInt(), project.zyl->generation + 1);
    EXPECT_EQ(population.rowCount(), 7); // six individuals and the separator, once
    // A value arriving for a shown population is stored at once and repainted later.
    project.zyl->population[2].value = 123;
    windows->evaluatedValue(2);
    EXPECT_EQ(population.cellText(2, 0), "123");
    // The refresh comes by itself, at display rate.
    project.zyl->generation += 1;
    windows->statistics();
    QElapsedTimer waited;
    waited.start();
    while (statistics.cellText(0, 1).toInt() != project.zyl->generation + 1 &&
           waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(statistics.cellText(0, 1).toInt(), project.zyl->generation + 1);
}

TEST_F(Windows, NewWindowsCascadeAndTheInfoColumnIsNeverCut)
{
    area.resize(800, 600);
    area.show();
    load(task("[PLOTS]\nA=Average\nB=StdDev\n[SHOW]\nvariables=1\n"));
    const QList<QMdiSubWindow*> frames = area.subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(frames.size(), 4);
    const int step = frames[1]->pos().x() - frames[0]->pos().x();
    EXPECT_GT(step, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(frames[i]->pos(), QPoint(i * step, i * step)) << i;

    // The Info column reaches the right edge, and is wider than that when its texts need it.
    run();
    QTableView* view = windows->statisticsWindow()->ListView1;
    const TextTableModel& model = windows->statisticsWindow()->model();
    auto columnsWidth = [view] {
        return view->columnWidth(0) + view->columnWidth(1) + view->columnWidth(2);
    };
    auto widestInfo = [&] {
        int widest = 0;
        for (int r = 0; r < model.rowCount(); ++r)
            widest = std::max(widest, view->fontMetrics().horizontalAdvance(model.cellText(r, 2)));
        return widest;
    };
    for (QSize size : {QSize(300, 300), QSize(900, 300)}) {
        frames[0]->resize(size);
        QApplication::processEvents();
        EXPECT_GE(columnsWidth(), view->viewport()->width()) << size.width();
        EXPECT_GT(view->columnWidth(2), widestInfo()) << size.width();
    }
    EXPECT_EQ(columnsWidth(), view->viewport()->width()) << "no wider than needed";
}

TEST_F(Windows, TheNamesColumnFitsEveryName)
{
    area.resize(800, 600);
    area.show();
    load(task("[CONSTRAINTS]\nlimit=x1-0.25\n"));
    run();
    QTableView* view = windows->statisticsWindow()->ListView1;
    const TextTableModel& model = windows->statisticsWindow()->model();
    // The view's own room around a cell's text; with less the text is cut short.
    const int margin =
        2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
    QStringList names;
    for (int r = 0; r < model.rowCount(); ++r) {
        names << model.cellText(r, 0);
        EXPECT_GE(view->columnWidth(0),
                  view->fontMetrics().horizontalAdvance(names.back()) + margin)
            << names.back().toStdString();
    }
    EXPECT_TRUE(names.contains("BestViolation"));

    // A long block (many objectives' rows) whose longest names come first.
    std::vector<StatisticsRow> rows{{"Deflection_of_the_beam_FrontMin", "1", ""}};
    for (int k = 0; k < 80; ++k)
        rows.push_back({"f" + std::to_string(k) + "_FrontMax", "2", ""});
    windows->statisticsWindow()->showRows(rows);
    windows->statisticsWindow()->model().flush();
    EXPECT_GE(view->columnWidth(0),
              view->fontMetrics().horizontalAdvance("Deflection_of_the_beam_FrontMin") + margin);
}

TEST_F(Windows, AMultiObjectiveTaskHasAParetoWindowShownEachGenerationThatMinimisesOnClose)
{
    area.resize(800, 600);
    area.show();
    load(task("[OPTIONS]\nloop_counter=3\n"));
    EXPECT_EQ(windows->paretoWindow(), nullptr) << "a single objective has none";
    int taken = 0;
    ResultContext context{&area, *project.zyl, settings, project.plots, {}, [] {}};
    context.paretoSnapshot = [this, &taken](ParetoSnapshot& snapshot) {
        ++taken;
        const ZYL& zyl = *project.zyl;
        snapshot = {{"f", "x1"}, zyl.names, {false, true}, {}, zyl.generation + 1};
        for (const Indiv& ind : zyl.population)
            snapshot.points.push_back(
                {{ind.value, ind.gene(0)->getValue()}, {ind.gene(0)->getValue()}, 0, false});
    };
    windows = std::make_unique<ResultWindows>(std::move(context));
    TPareto* pareto = windows->paretoWindow();
    ASSERT_NE(pareto, nullptr);
    run();
    EXPECT_EQ(taken, 3) << "once per generation";
    EXPECT_EQ(pareto->snapshot().points.size(), 6u);
    EXPECT_EQ(pareto->snapshot().generation, project.zyl->generation);
    EXPECT_EQ(pareto->ComboBoxY->currentText(), "x1 (max)");

    QMdiSubWindow* frame = area.subWindowList(QMdiArea::CreationOrder).back();
    ASSERT_EQ(frame->widget(), pareto);
    frame->close();
    EXPECT_TRUE(frame->isMinimized());
    EXPECT_EQ(windows->paretoWindow(), pareto);
}

namespace {

/// An external program as a backend: the value x1, no constraint of its own.
class ValueOfX1 : public EvaluationBackend {
public:
    void evaluate(EvaluationBatch& batch) override
    {
        for (std::size_t k = 0; k < batch.size(); ++k)
            batch.report(k, EvaluationOutcome::evaluated(batch.individual(k).gene(0)->getValue()));
    }
};

} // namespace

TEST_F(Windows, ARowRuledOutBeforeEvaluationSaysWhy)
{
    load("[FUNCTION]\nexternal=1\nexternal_name=none\ninput_name=in\noutput_name=out\n"
         "[CONSTRAINTS]\nlow=x1-0.2\n[VARIABLES]\nx1=real[0;1]\n[POPULATION]\nsize=8\n"
         "[SHOW]\npopulation=1\npopulation_history=1\nbuffered=1\nbuffer_individuals=1\n");
    ValueOfX1 program;
    Task task(RunContext{*project.zyl, settings, script, table, project.plots, &program}, sync,
              *windows);
    task.execute();
    windows->flush();
    // The buffer holds every design of the generation, with its true values.
    const IndividualTableModel& buffered = windows->bufferedWindow()->model();
    ASSERT_EQ(buffered.rowCount(), 8);
    int screened = 0, r = 0;
    for (const Indiv& entry : project.zyl->buffer.entries()) {
        const bool out = entry.gene(0)->getValue() > 0.2;
        ASSERT_EQ(entry.screened, out);
        screened += out ? 1 : 0;
        EXPECT_EQ(buffered.cellText(r, 0).toStdString(),
                  out ? "ruled out by low" : realToText(entry.value));
        // The violation of the formula, known without the program.
        EXPECT_EQ(buffered.cellText(r, 2).toStdString(), realToText(entry.violation));
        ++r;
    }
    ASSERT_GT(screened, 0);
    const IndividualTableModel& population = windows->populationWindow()->model();
    int shown = 0;
    for (int row = 0; row < 8; ++row)
        shown += population.cellText(row, 0) == "ruled out by low" ? 1 : 0;
    EXPECT_EQ(shown, screened);
    const TextTableModel& statistics = windows->statisticsWindow()->model();
    std::vector<QString> screenedRow;
    for (int r = 0; r < statistics.rowCount(); ++r)
        if (statistics.cellText(r, 0) == "Screened")
            screenedRow = {statistics.cellText(r, 1), statistics.cellText(r, 2)};
    EXPECT_EQ(screenedRow, (std::vector<QString>{QString::number(screened),
                                                 "Designs ruled out before evaluation"}));
}
