#include "windows/ChartModel.h"

#include "common/Exception.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace zyl;
using ::testing::ElementsAre;

namespace {

/// Records what the chart draws. Texts measure `charWidth` pixels per character; with the
/// default 0 the plot rectangle is the paint rectangle less 20 pixels on every side.
class RecordingCanvas : public ChartCanvas {
  public:
    int textWidth(FontRole, std::string_view text) override
    {
        return charWidth * static_cast<int>(text.size());
    }
    void setPen(PenStyle style, ColourValue colour, int) override
    {
        pens.push_back({style, colour});
    }
    void line(PixelPoint from, PixelPoint to) override { lines.push_back({from, to}); }
    void polyline(const std::vector<PixelPoint>& points) override { polylines.push_back(points); }
    void text(FontRole, PixelPoint, TextAlign, std::string_view text) override
    {
        texts.emplace_back(text);
    }
    void setClip(const PixelRect& clip) override { clips.push_back(clip); }
    void clearClip() override {}
    bool allowsColumnCulling() const override { return cull; }

    bool drewNothing() const
    {
        return pens.empty() && lines.empty() && polylines.empty() && texts.empty();
    }

    int charWidth = 0;
    bool cull = false;
    std::vector<std::pair<PenStyle, ColourValue>> pens;
    std::vector<std::pair<PixelPoint, PixelPoint>> lines;
    std::vector<std::vector<PixelPoint>> polylines;
    std::vector<std::string> texts;
    std::vector<PixelRect> clips;
};

const PixelRect square{0, 0, 240, 240}; // plot 20..220 on both axes with zero-width labels

/// A red series of `points`, as a user plot makes it.
void fill(Chart& chart, std::vector<std::pair<double, double>> points)
{
    chart.addPen(PenStyle::Solid, 0x0000FF, 1);
    PolyLine& series = chart.addPolyLine();
    for (auto [x, y] : points)
        series.append(x, y);
}

std::vector<std::string> texts(const std::vector<GridLabel>& labels)
{
    std::vector<std::string> out;
    for (const GridLabel& l : labels)
        out.push_back(l.text);
    return out;
}

std::string bytes(const GraphObject& item)
{
    std::ostringstream out;
    item.write(out);
    return out.str();
}

} // namespace

TEST(ChartBounds, SeriesBoxIsThatOfItsFinitePoints)
{
    PolyLine series;
    EXPECT_FALSE(series.bounds().isBox());
    series.append(std::nan(""), 7);
    series.append(3, INFINITY);
    series.append(1e300, 0); // beyond float: kept, but not finite
    EXPECT_FALSE(series.bounds().isBox());
    EXPECT_EQ(series.size(), 3u) << "non-finite points are kept";
    series.append(1, 2);
    Line box = series.bounds();
    EXPECT_EQ((std::array{box.x1, box.y1, box.x2, box.y2}), (std::array{1.f, 2.f, 1.f, 2.f}))
        << "a lone point is a range";
    series.append(-4, 6);
    box = series.bounds();
    EXPECT_EQ((std::array{box.x1, box.y1, box.x2, box.y2}), (std::array{-4.f, 2.f, 1.f, 6.f}));
    EXPECT_FALSE(Pen().bounds().isBox()) << "pens never affect the range";
}

TEST(ChartRange, EqualLimitsAreWidenedAndALonePointIsDrawn)
{
    RecordingCanvas canvas;
    Chart flat("Population", "Value");
    fill(flat, {{1, 5}, {2, 5}});
    ChartLayout l = flat.layout(canvas, square);
    ASSERT_TRUE(l.hasPlot);
    EXPECT_EQ(l.xmin, 1);
    EXPECT_EQ(l.xmax, 2);
    EXPECT_EQ(l.ymin, 4);
    EXPECT_EQ(l.ymax, 6);
    // Far from zero a float does not move by 1; the range must still open up.
    Chart big("Population", "Value");
    fill(big, {{1, 1e30}, {2, 1e30}});
    l = big.layout(canvas, square);
    ASSERT_TRUE(l.hasPlot);
    EXPECT_LT(l.ymin, 1e30f);
    EXPECT_GT(l.ymax, 1e30f);

    // A lone point (one generation): its range widened, the grid, and a cross at the centre.
    Chart lone("Population", "Value");
    fill(lone, {{1, 5}});
    l = lone.layout(canvas, square);
    ASSERT_TRUE(l.hasPlot);
    EXPECT_EQ((std::array{l.xmin, l.xmax, l.ymin, l.ymax}), (std::array{0.f, 2.f, 4.f, 6.f}));
    RecordingCanvas drawn;
    lone.paint(drawn, square);
    EXPECT_FALSE(drawn.texts.empty());
    EXPECT_TRUE(drawn.polylines.empty());
    using Segment = std::pair<PixelPoint, PixelPoint>;
    ASSERT_GT(drawn.lines.size(), 2u);
    EXPECT_EQ(drawn.lines[drawn.lines.size() - 2], (Segment{{118, 120}, {122, 120}}));
    EXPECT_EQ(drawn.lines.back(), (Segment{{120, 118}, {120, 122}}));
    Chart empty("x", "y");
    empty.paint(canvas, square);
    EXPECT_TRUE(canvas.drewNothing());
    Chart tiny("Population", "Value");
    fill(tiny, {{1, 5}, {2, 6}});
    tiny.paint(canvas, {0, 0, 60, 60}); // plot 20 x 20 is not above the 20-pixel spacing
    EXPECT_TRUE(canvas.drewNothing());
}

TEST(ChartRange, FixedRangeOverridesDataAndReversedLimitsAreOrdered)
{
    RecordingCanvas canvas;
    Chart chart("Population", "Value");
    fill(chart, {{1, 5}, {2, 6}});
    chart.rangeYStart = 10;
    chart.rangeYEnd = -10;
    ChartLayout l = chart.layout(canvas, square);
    EXPECT_EQ(l.ymin, -10);
    EXPECT_EQ(l.ymax, 10);
    EXPECT_EQ(l.xmin, 1);
}

TEST(ChartGrid, FloatingLabelsFollowScaleAndPositions)
{
    RecordingCanvas canvas;
    Chart chart("Population", "Value");
    fill(chart, {{1, 5}, {2, 5}});
    ChartLayout l = chart.layout(canvas, square);
    // y: 2 units on 240 pixels, 20-pixel spacing -> 0.17 per grid step -> one digit.
    EXPECT_EQ(l.yGrid.precision, 1);
    EXPECT_THAT(texts(l.yGrid.labels), ElementsAre("4.0", "4.2", "4.4", "4.6", "4.8", "5.0", "5.2",
                                                   "5.4", "5.6", "5.8", "6.0"));
    EXPECT_EQ(l.yGrid.lines[1].from, (PixelPoint{16, 200}));
    EXPECT_EQ(l.yGrid.lines[1].to, (PixelPoint{220, 200}));
    EXPECT_EQ(l.yGrid.labels[1].at, (PixelPoint{12, 207}));
    // x: 1 unit -> 0.083 per step -> two digits; labels hang below the axis.
    EXPECT_EQ(l.xGrid.precision, 2);
    EXPECT_EQ(l.xGrid.labels.front().text, "1.00");
    EXPECT_EQ(l.xGrid.labels.back().text, "2.00");
    EXPECT_EQ(l.xGrid.labels[2].at, (PixelPoint{68, 230}));
    EXPECT_EQ(l.xGrid.lines[2].from, (PixelPoint{60, 225}));

    chart.paint(canvas, square);
    EXPECT_EQ(chart.precisionY, 1) << "computed precisions are kept in the chart";
    chart.precisionY = 4;
    chart.precisionYSet = true;
    EXPECT_EQ(chart.layout(canvas, square).yGrid.labels[1].text, "4.2000");
}

TEST(ChartGrid, WholeNumberAxes)
{
    RecordingCanvas canvas;
    // Floating y off: 0.2 ... 3.7 opens to 0 ... 4 on whole numbers.
    Chart chart("Population", "Value");
    fill(chart, {{0, 0.2}, {1, 3.7}});
    chart.floatingY = false;
    ChartLayout l = chart.layout(canvas, square);
    EXPECT_EQ(l.ymin, 0);
    EXPECT_EQ(l.ymax, 4);
    ASSERT_TRUE(l.yGrid.integer);
    EXPECT_THAT(texts(l.yGrid.labels), ElementsAre("0", "1", "2", "3", "4"));
    EXPECT_EQ(l.yGrid.lines[1].from, (PixelPoint{16, 170}));
    EXPECT_EQ(l.yGrid.lines.size(), 5u) << "the grid reaches the top, no closing line";

    // Generations 1 ... 100 on 200 pixels: steps of 10 from 1, closed at the right edge.
    Chart generations("Population", "Value");
    fill(generations, {{1, 0}, {100, 1}});
    generations.floatingX = false;
    l = generations.layout(canvas, square);
    EXPECT_THAT(texts(l.xGrid.labels),
                ElementsAre("1", "11", "21", "31", "41", "51", "61", "71", "81", "91"));
    ASSERT_EQ(l.xGrid.lines.size(), 11u);
    EXPECT_EQ(l.xGrid.lines[1].from.x, 40);
    EXPECT_EQ(l.xGrid.lines[9].from.x, 202);
    EXPECT_EQ(l.xGrid.labels[9].at, (PixelPoint{210, 230}));
    EXPECT_EQ(l.xGrid.lines[10].from, (PixelPoint{220, 225}));

    // 0 ... 400 on 200 pixels: steps of 41 are 20.5 pixels, and halves round away from zero.
    Chart halves("Population", "Value");
    fill(halves, {{0, 0}, {400, 1}});
    halves.floatingX = false;
    l = halves.layout(canvas, square);
    EXPECT_EQ(l.xGrid.lines[1].from.x, 20 + 21);
    EXPECT_EQ(l.xGrid.lines[3].from.x, 20 + 62);
    EXPECT_EQ(roundHalfAway(-2.5), -3);

    // A single step wider than the range: only the first line, the edge and the last label.
    Chart oneStep("Population", "Value");
    fill(oneStep, {{-3, 0}, {-2, 1}});
    oneStep.floatingX = false;
    l = oneStep.layout(canvas, {0, 0, 65, 240}); // plot 25 pixels wide: one interval fits
    EXPECT_THAT(texts(l.xGrid.labels), ElementsAre("-3", "-2"));
    EXPECT_EQ(l.xGrid.labels[1].at, (PixelPoint{45 + 8, 230}));
    ASSERT_EQ(l.xGrid.lines.size(), 2u);
    EXPECT_EQ(l.xGrid.lines[1].from, (PixelPoint{45, 225}));
}

TEST(ChartGrid, LongLabelsSwitchToScientific)
{
    EXPECT_EQ(formatLabel(1234.5, 2, false), "1234.50");
    EXPECT_EQ(formatLabel(123456789, 2, true), "1.23e+08");
    EXPECT_EQ(formatInteger(-0.0), "0");
    EXPECT_EQ(formatInteger(-30000), "-30000");
    EXPECT_FALSE(needsScientific(0, 123456.78, 2, 9)); // "123456.78" is 9 characters
    EXPECT_TRUE(needsScientific(0, 1234567.8, 2, 9));
    EXPECT_TRUE(needsScientific(-1234567.8, 0, 2, 9)) << "a long minimum counts as well";
    EXPECT_EQ(autoPrecision(20, 0.001), 2);
    EXPECT_EQ(autoPrecision(20, 5), 1);
    EXPECT_EQ(autoPrecision(20, 0), 1);

    RecordingCanvas canvas;
    canvas.charWidth = 6;
    Chart chart("Population", "Value");
    fill(chart, {{1, 0}, {2, 123456789}});
    chart.precisionY = 2;
    chart.precisionYSet = true;
    ChartLayout l = chart.layout(canvas, {0, 0, 400, 300});
    EXPECT_TRUE(l.yGrid.scientific);
    EXPECT_EQ(l.yGrid.labels.back().text, "1.23e+08");
    EXPECT_EQ(l.yLabelWidth, 6 * 8) << "room for the longer limit label";
    EXPECT_EQ(l.plot.left, 48 + 20);
    EXPECT_FALSE(l.xGrid.scientific);
}

TEST(ChartGrid, ProportionalGivesBothAxesOneScale)
{
    for (int charWidth : {0, 7}) {
        RecordingCanvas canvas;
        canvas.charWidth = charWidth; // label room differs per axis when it is not zero
        Chart chart("Population", "Value");
        fill(chart, {{0, 0}, {10, 10}});
        chart.proportional = true;
        ChartLayout l = chart.layout(canvas, {0, 0, 600, 300});
        ASSERT_TRUE(l.hasPlot);
        EXPECT_DOUBLE_EQ(l.xscale, l.yscale);
        EXPECT_NEAR(l.plot.width(), l.plot.height(), 1);
        EXPECT_LT(l.plot.right, 300) << "the wide window is narrowed";
        // The data maximum lands on the plot's edges.
        PixelPoint corner = mapToPixel(10, 10, l.plot, l.xmin, l.ymin, static_cast<float>(l.xscale),
                                       static_cast<float>(l.yscale));
        EXPECT_NEAR(corner.x, l.plot.right, 1);
        EXPECT_NEAR(corner.y, l.plot.top, 1);
    }
}

TEST(ChartPaint, OrderOfDrawingAndClip)
{
    RecordingCanvas canvas;
    Chart chart("Population", "Value");
    fill(chart, {{1, 1}, {2, 3}, {3, 2}});
    chart.paint(canvas, square);
    ASSERT_EQ(canvas.pens.size(), 2u);
    EXPECT_EQ(canvas.pens[0], std::make_pair(PenStyle::Dot, ColourValue{0x888888}));
    EXPECT_EQ(canvas.pens[1], std::make_pair(PenStyle::Solid, ColourValue{0x0000FF}));
    EXPECT_THAT(canvas.clips, ElementsAre(PixelRect{19, 19, 221, 221}));
    EXPECT_EQ(canvas.texts.back(), "Population") << "titles come after the labels";
    ASSERT_EQ(canvas.polylines.size(), 1u);
    EXPECT_THAT(canvas.polylines[0],
                ElementsAre(PixelPoint{20, 220}, PixelPoint{120, 20}, PixelPoint{220, 120}));
    EXPECT_EQ(chart.xmin, 1);
    EXPECT_EQ(chart.ymax, 3);
    EXPECT_DOUBLE_EQ(chart.xscale, 2.0 / 200);

    RecordingCanvas bare;
    chart.showPitch = false;
    chart.paint(bare, square);
    EXPECT_TRUE(bare.texts.empty());
    EXPECT_TRUE(bare.lines.empty());
    EXPECT_EQ(bare.polylines.size(), 1u);
}

TEST(ChartPaint, NonFiniteAndHugeDataNeverBreakThePicture)
{
    RecordingCanvas canvas;
    Chart chart("Population", "Value");
    fill(chart, {{1, 1}, {2, NAN}, {3, 2}, {4, 3}, {INFINITY, 1}, {6, 1}, {7, 0}});
    chart.paint(canvas, square);
    ASSERT_EQ(canvas.polylines.size(), 2u) << "the line breaks at each non-finite point";
    EXPECT_EQ(canvas.polylines[0].size(), 2u); // (3,2)-(4,3); (1,1) alone is a cross
    EXPECT_EQ(canvas.polylines[1].size(), 2u);
    EXPECT_EQ(chart.xmax, 7);

    Chart nothing("Population", "Value");
    fill(nothing, {{NAN, NAN}, {INFINITY, -INFINITY}, {1e300, 1}});
    RecordingCanvas blank;
    nothing.paint(blank, square);
    EXPECT_TRUE(blank.drewNothing());

    for (double huge : {3.4e38, 1e-30}) {
        Chart extreme("Population", "Value");
        fill(extreme, {{-huge, huge}, {huge, -huge}, {0, huge}});
        RecordingCanvas c;
        c.charWidth = 6;
        extreme.paint(c, {0, 0, 800, 600});
        ASSERT_EQ(c.polylines.size(), 1u) << huge;
        EXPECT_TRUE(std::isfinite(extreme.xscale) && extreme.xscale > 0);
        for (PixelPoint p : c.polylines[0]) {
            EXPECT_GE(p.x, 0);
            EXPECT_LE(p.x, 800);
        }
    }
}

TEST(ChartPaint, ColumnCullingKeepsEachColumnsExtremes)
{
    // 1000 points on a 200-pixel axis: five to a column.
    Chart chart("x", "y");
    PolyLine& series = chart.addPolyLine();
    for (int i = 0; i < 1000; ++i)
        series.append(i, (i * 37) % 101);
    RecordingCanvas full, culled;
    culled.cull = true;
    chart.paint(full, square);
    chart.paint(culled, square);
    ASSERT_EQ(full.polylines.size(), 1u);
    ASSERT_EQ(culled.polylines.size(), 1u);
    const auto& all = full.polylines[0];
    const auto& few = culled.polylines[0];
    EXPECT_EQ(all.size(), 1000u);
    EXPECT_LE(few.size(), 4u * 201);
    EXPECT_EQ(few.front(), all.front());
    EXPECT_EQ(few.back(), all.back());
    // Per column, the same lowest and highest pixel.
    auto extremes = [](const std::vector<PixelPoint>& pts) {
        std::map<int, std::pair<int, int>> out;
        for (PixelPoint p : pts) {
            auto [it, added] = out.try_emplace(p.x, p.y, p.y);
            it->second.first = std::min(it->second.first, p.y);
            it->second.second = std::max(it->second.second, p.y);
        }
        return out;
    };
    EXPECT_EQ(extremes(few), extremes(all));
}

TEST(ChartItems, WriteTagsAndLittleEndianData)
{
    EXPECT_EQ(bytes(Line(1, 0, 0, -2)), std::string("\x01\0\0\0"
                                                    "\x00\x00\x80\x3f"
                                                    "\0\0\0\0"
                                                    "\0\0\0\0"
                                                    "\x00\x00\x00\xc0",
                                                    20));
    EXPECT_EQ(bytes(Pen(PenStyle::Dot, 0x800080, 3)),
              std::string("\x04\0\0\0\x02\x80\x00\x80\x00\x03\x00", 11));
    PolyLine series;
    series.append(0.5, 2);
    EXPECT_EQ(bytes(series), std::string("\x02\0\0\0\x01\0\0\0"
                                         "\x00\x00\x00\x3f"
                                         "\x00\x00\x00\x40",
                                         16));
}

TEST(ChartOptions, PrecisionInput)
{
    Chart chart("x", "y");
    EXPECT_FALSE(chart.inputPrecision(true, "9")) << "must be below the maximum label length";
    EXPECT_FALSE(chart.inputPrecision(true, "0"));
    EXPECT_FALSE(chart.inputPrecision(true, ""));
    EXPECT_FALSE(chart.precisionXSet);
    EXPECT_THAT([&] { chart.inputPrecision(false, "abc"); },
                ::testing::ThrowsMessage<Exception>(
                    ::testing::StrEq("'abc' is not a valid integer value")));
    EXPECT_FALSE(chart.precisionYSet);
    EXPECT_TRUE(chart.inputPrecision(false, "8"));
    EXPECT_EQ(chart.precisionY, 8);
    EXPECT_TRUE(chart.precisionYSet);
}
