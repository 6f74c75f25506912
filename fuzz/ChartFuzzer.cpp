// The chart's drawing model with arbitrary series, options and paint rectangles up to the
// size of a large picture.
//
// Contracts beyond "no crash": a range that is found is ordered; a plot rectangle lies inside
// the paint rectangle; the grids have no more lines than the spacing allows; the binary form
// of the items has exactly the size their fields and points take.
#include "FuzzSupport.h"

#include "windows/ChartModel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <sstream>

using namespace zyl;

namespace {

class CountingCanvas : public ChartCanvas {
  public:
    int textWidth(FontRole, std::string_view text) override {
        return 7 * static_cast<int>(text.size());
    }
    void setPen(PenStyle, ColourValue, int) override {}
    void line(PixelPoint, PixelPoint) override { ++lines; }
    void polyline(const std::vector<PixelPoint>& points) override { drawnPoints += points.size(); }
    void text(FontRole, PixelPoint, TextAlign, std::string_view) override {}
    void setClip(const PixelRect&) override {}
    void clearClip() override {}
    bool allowsColumnCulling() const override { return cull; }

    bool cull = false;
    std::size_t lines = 0;
    std::size_t drawnPoints = 0;
};

/// A real that is often ordinary and sometimes extreme or not a number at all.
double anyReal(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return in.ConsumeIntegralInRange(-1000, 1000);
    case 1:
        return in.ConsumeFloatingPointInRange(-1e6, 1e6);
    default:
        return in.ConsumeFloatingPoint<double>();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Chart chart(in.ConsumeRandomLengthString(40), in.ConsumeRandomLengthString(40));
    chart.showPitch = in.ConsumeBool();
    chart.floatingX = in.ConsumeBool();
    chart.floatingY = in.ConsumeBool();
    chart.proportional = in.ConsumeBool();
    chart.spacingX = in.ConsumeIntegral<std::int16_t>();
    chart.spacingY = in.ConsumeIntegral<std::int16_t>();
    chart.maxLabelLength = in.ConsumeIntegralInRange<std::int16_t>(-5, 200);
    if (in.ConsumeBool()) {
        chart.rangeXStart = static_cast<float>(anyReal(in));
        chart.rangeXEnd = static_cast<float>(anyReal(in));
    }
    if (in.ConsumeBool()) {
        chart.rangeYStart = static_cast<float>(anyReal(in));
        chart.rangeYEnd = static_cast<float>(anyReal(in));
    }
    for (bool xAxis : {true, false}) {
        try {
            chart.inputPrecision(xAxis, in.ConsumeRandomLengthString(12));
        } catch (const std::exception&) {
        }
    }

    std::size_t expectedBytes = 0, totalPoints = 0;
    const int itemCount = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < itemCount && in.remaining_bytes() > 0; ++i) {
        if (in.ConsumeBool()) {
            chart.addPen(static_cast<PenStyle>(in.ConsumeIntegralInRange(0, 6)),
                         in.ConsumeIntegral<ColourValue>(), in.ConsumeIntegral<std::int16_t>());
            expectedBytes += 4 + 1 + 4 + 2;
            continue;
        }
        PolyLine& series = chart.addPolyLine();
        const int points = in.ConsumeIntegralInRange(0, 2000);
        for (int p = 0; p < points && in.remaining_bytes() > 0; ++p) {
            const double x = in.ConsumeBool() ? p : anyReal(in);
            series.append(x, anyReal(in));
        }
        expectedBytes += 4 + 4 + 8 * series.size();
        totalPoints += series.size();
    }

    PixelRect rect;
    rect.left = in.ConsumeIntegralInRange(-20000, 20000);
    rect.top = in.ConsumeIntegralInRange(-20000, 20000);
    rect.right = rect.left + in.ConsumeIntegralInRange(-10, 16384);
    rect.bottom = rect.top + in.ConsumeIntegralInRange(-10, 16384);

    CountingCanvas canvas;
    canvas.cull = in.ConsumeBool();
    const ChartLayout layout = chart.layout(canvas, rect);
    if (layout.hasRange)
        FUZZ_CHECK(layout.xmin <= layout.xmax && layout.ymin <= layout.ymax, "range order");
    if (layout.hasPlot) {
        const PixelRect& p = layout.plot;
        FUZZ_CHECK(p.left >= rect.left && p.right <= rect.right && p.top >= rect.top &&
                       p.bottom <= rect.bottom && p.width() > 0 && p.height() > 0,
                   "plot outside the paint rectangle");
        const std::size_t gridX = p.width() / std::max<int>(1, chart.spacingX) + 3;
        const std::size_t gridY = p.height() / std::max<int>(1, chart.spacingY) + 3;
        FUZZ_CHECK(layout.xGrid.lines.size() <= gridX && layout.yGrid.lines.size() <= gridY,
                   "more grid lines than the spacing allows");
    }
    chart.paint(canvas, rect);
    // A series is drawn as runs; culling keeps at most every point, and a run never repeats one.
    FUZZ_CHECK(canvas.drawnPoints <= totalPoints, "more points drawn than given");

    std::ostringstream bytes;
    for (const GraphObject& item : chart.items)
        item.write(bytes);
    FUZZ_CHECK(bytes.str().size() == expectedBytes, "binary form of the items");
    return 0;
}
