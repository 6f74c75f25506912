// Redraw time of the Pareto window with 10,000 designs (a population that size, or the designs
// of many generations shown at once), painted into an image the size of the plot as the screen
// gets it: the scatter of two objectives, and parallel coordinates of five. "Update" also hands
// the window a new snapshot first, as each generation of a run does.
//
//   build/release/bench/ParetoPaintBench
#include "windows/ParetoWindow.h"

#include <QComboBox>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace zyl;

namespace {

/// Designs around a convex front: a tenth of them on it, a tenth infeasible.
ParetoSnapshot designs(int count, int objectives)
{
    ParetoSnapshot snapshot;
    for (int k = 0; k < objectives; ++k)
        snapshot.objectiveNames.push_back("Objective" + std::to_string(k + 1));
    for (int j = 0; j < 10; ++j)
        snapshot.variableNames.push_back("x" + std::to_string(j + 1));
    snapshot.maximised.assign(static_cast<std::size_t>(objectives), false);
    std::mt19937 gen(42);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < count; ++i) {
        ParetoPoint point;
        const bool front = i % 10 == 0;
        double sum = 0;
        for (int k = 0; k < objectives; ++k) {
            point.objectives.push_back(unit(gen));
            sum += point.objectives.back() * point.objectives.back();
        }
        const double scale = (front ? 1.0 : 1.0 + unit(gen)) / std::sqrt(sum);
        for (double& v : point.objectives)
            v *= scale;
        for (int j = 0; j < 10; ++j)
            point.variables.push_back(unit(gen));
        point.onFront = front;
        point.violation = i % 10 == 5 ? unit(gen) : 0;
        snapshot.points.push_back(std::move(point));
    }
    return snapshot;
}

void paint(benchmark::State& state, int objectives, bool parallel, bool update)
{
    TPareto window;
    const ParetoSnapshot snapshot = designs(10000, objectives);
    window.showSnapshot(snapshot);
    if (parallel)
        window.ComboBoxView->setCurrentIndex(1);
    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage image(size, QImage::Format_RGB32);
    for (auto _ : state) {
        if (update)
            window.showSnapshot(snapshot);
        image.fill(Qt::white);
        QPainter painter(&image);
        window.paintPlot(painter, image.rect());
    }
    state.counters["designs"] = static_cast<double>(snapshot.points.size());
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({560, 400})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK_CAPTURE(paint, Scatter, 2, false, false)->Apply(sizes);
BENCHMARK_CAPTURE(paint, ScatterUpdate, 2, false, true)->Apply(sizes);
BENCHMARK_CAPTURE(paint, Parallel5, 5, true, false)->Apply(sizes);
BENCHMARK_CAPTURE(paint, Parallel5Update, 5, true, true)->Apply(sizes);
