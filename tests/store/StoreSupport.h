#pragma once

#include "engine/Statistics.h"
#include "engine/Task.h"
#include "project/Loader.h"
#include "store/StoredSession.h"
#include "store/StateCodec.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zyl {
inline bool operator==(const PlotPoint& a, const PlotPoint& b)
{
    return a.x == b.x && a.y == b.y;
}
} // namespace zyl

namespace zyl::test {

namespace fs = std::filesystem;

/// A folder of its own for one test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path =
            fs::temp_directory_path() / ("zyl-store-" + std::string(info->test_suite_name()) + "-" +
                                         info->name() + "-" + std::to_string(::getpid()));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

inline std::string fileBytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary) << bytes;
}

/// What a run leaves that must not depend on interruptions.
struct Outcome {
    std::vector<std::vector<StatisticsRow>> statistics;
    std::vector<codec::IndivData> population, buffer, extremes;
    std::vector<std::vector<std::vector<PlotPoint>>> plots;
    std::string exportFile;
    std::int32_t generation = 0;
    std::int64_t mutations = 0, crossovers = 0;

    void take(const ZYL& zyl, const std::vector<UserPlot>& userPlots, const std::string& exportName)
    {
        population.clear();
        for (const Indiv& ind : zyl.population)
            population.push_back(codec::toData(ind));
        buffer.clear();
        for (const Indiv& ind : zyl.buffer.entries())
            buffer.push_back(codec::toData(ind));
        extremes = {codec::toData(zyl.globalMin), codec::toData(zyl.globalMax),
                    codec::toData(zyl.currentMin), codec::toData(zyl.currentMax)};
        plots.clear();
        for (const UserPlot& plot : userPlots)
            plots.push_back(plot.series);
        exportFile = fileBytes(exportName);
        generation = zyl.generation;
        mutations = zyl.mutations;
        crossovers = zyl.crossovers;
    }
};

inline void expectSame(const Outcome& a, const Outcome& b)
{
    EXPECT_EQ(a.generation, b.generation);
    EXPECT_EQ(a.statistics, b.statistics);
    EXPECT_EQ(a.population, b.population);
    EXPECT_EQ(a.buffer, b.buffer);
    EXPECT_EQ(a.extremes, b.extremes);
    EXPECT_EQ(a.plots, b.plots);
    EXPECT_EQ(a.exportFile, b.exportFile);
    EXPECT_EQ(a.mutations, b.mutations);
    EXPECT_EQ(a.crossovers, b.crossovers);
}

/// Collects the Statistics window's rows; optionally stops the task after some evaluations.
class RowCollector : public RunObserver {
public:
    RowCollector(const ZYL& zyl, const ProjectSettings& settings) : m_zyl(zyl), m_settings(settings)
    {
    }
    void statistics() override { rows.push_back(statisticsRows(m_zyl, m_settings.showBuffered)); }
    void evaluatedValue(int) override
    {
        if (stopAfter > 0 && --stopAfter == 0 && task)
            task->terminate();
    }
    void warning(const std::string& text) override { warnings.push_back(text); }
    void stopRuleMet(const std::string& reason) override
    {
        stopReason = reason;
        stoppedIn = m_zyl.generation + 1;
    }

    std::vector<std::vector<StatisticsRow>> rows;
    std::vector<std::string> warnings;
    std::string stopReason;
    int stoppedIn = 0;
    int stopAfter = 0;
    Task* task = nullptr;

private:
    const ZYL& m_zyl;
    const ProjectSettings& m_settings;
};

/// Runs generations with today's Task, one Run per generation as zyl-batch does; at most
/// `generations` of them, and never past the task's end (a stop rule's included, when the
/// stop rules' state is given).
inline void runGenerations(ZYL& zyl, ProjectSettings& settings, const ProjectScript& script,
                           SymbolTable& table, std::vector<UserPlot>& plots, RunObserver& observer,
                           int generations, RowCollector* stopper = nullptr,
                           StopRuleState* stop = nullptr, const RunClock* clock = nullptr)
{
    DirectSynchronizer sync;
    for (int g = 0; g < generations && zyl.generation < zyl.maxIteration; ++g) {
        if (stop && stop->finished())
            return;
        RunContext context{zyl, settings, script, table, plots};
        context.stopState = stop;
        context.clock = clock;
        Task task(context, sync, observer);
        if (stopper)
            stopper->task = &task;
        task.execute();
        if (stopper)
            stopper->task = nullptr;
        if (task.stopRequested())
            return;
    }
}

} // namespace zyl::test
