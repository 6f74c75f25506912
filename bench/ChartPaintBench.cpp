// Paint time of a chart window on a long run: five series of 30000 generations each (a user
// plot after 30000 generations), painted into an image the size of the window, as the screen
// gets it. One frame at 60 Hz is 16.7 ms.
//
//   build/release/bench/ChartPaintBench
//
// "Culled" is what the window does; "Full" joins every point and shows what culling saves.
#include "windows/ChartWindow.h"

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

using namespace zyl;

namespace {

constexpr ColourValue palette[] = {0x000000, 0x0000FF, 0xFF0000, 0x008000, 0x800080};

/// Convergence-like series with noise, so that every pixel column has a real spread to draw.
std::unique_ptr<TForm1> longRun(int generations)
{
    auto window = std::make_unique<TForm1>();
    auto chart = std::make_unique<Chart>("Population", "Value");
    chart->floatingX = false;
    std::mt19937 gen(42);
    std::normal_distribution<double> noise(0, 1);
    for (int s = 0; s < 5; ++s) {
        chart->addPen(PenStyle::Solid, palette[s], 1);
        PolyLine& series = chart->addPolyLine();
        for (int g = 1; g <= generations; ++g)
            series.append(g, 100.0 * (s + 1) / g + noise(gen));
    }
    window->setChart(std::move(chart));
    return window;
}

template <bool Culled> void paint(benchmark::State& state)
{
    static std::unique_ptr<TForm1> window = longRun(30000);
    window->resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    window->setColumnCulling(Culled);
    QImage image(window->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        QPainter painter(&image);
        window->paintChart(painter, image.rect());
    }
    state.counters["points"] = 5 * 30000;
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({314, 234})->Args({1280, 800})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(paint<true>)->Name("Culled")->Apply(sizes);
BENCHMARK(paint<false>)->Name("Full")->Apply(sizes);
