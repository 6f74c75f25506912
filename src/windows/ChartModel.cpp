#include "windows/ChartModel.h"

#include "common/TextConvert.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>

namespace zyl {

namespace {

constexpr ColourValue gridColour = 0x888888;

// Pixels beyond this distance are pulled in: the painter's rasteriser works in fixed point
// and drops lines whose ends lie far outside, and the clip hides them anyway.
constexpr double pixelLimit = 1 << 22;

void putBytes(std::ostream& out, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putFloat(std::ostream& out, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putBytes(out, bits, 4);
}

/// A double as a 32-bit float without the undefined conversion of values beyond its range:
/// those become infinities, as they would in the floating-point unit.
float toFloat(double value)
{
    if (value > FLT_MAX)
        return INFINITY;
    if (value < -FLT_MAX)
        return -INFINITY;
    return static_cast<float>(value);
}

/// As toFloat, but a finite value stays finite (saturating at the largest float).
float toFiniteFloat(double value)
{
    return static_cast<float>(std::clamp<double>(value, -FLT_MAX, FLT_MAX));
}

int toPixel(double value)
{
    if (!(value > -pixelLimit)) // NaN too
        return static_cast<int>(-pixelLimit);
    if (value > pixelLimit)
        return static_cast<int>(pixelLimit);
    return static_cast<int>(std::trunc(value));
}

bool finite(float x, float y) { return std::isfinite(x) && std::isfinite(y); }

/// Equal limits would make a scale of zero. Widening by 1 is what the user sees for ordinary
/// values; far from zero a float does not move by 1, so the step grows with the magnitude.
void widenEqual(float& low, float& high)
{
    if (low != high)
        return;
    double delta = std::max(1.0, std::fabs(static_cast<double>(low)) * 1e-6);
    low = toFiniteFloat(low - delta);
    high = toFiniteFloat(high + delta);
}

/// Turns the points of a series into polylines for the canvas: breaks the line at points
/// that are not finite and, when culling, keeps of each run of pixels in one column only the
/// first, the lowest, the highest and the last. Those vertical segments cover exactly the
/// pixels the whole run covers, and the segments into and out of the column are unchanged.
class RunBuilder {
  public:
    RunBuilder(ChartCanvas& canvas, bool cull) : m_canvas(canvas), m_cull(cull) {}

    void add(PixelPoint p)
    {
        ++m_pointsInRun;
        if (!m_cull) {
            m_out.push_back(p);
            return;
        }
        if (m_inColumn && p.x == m_first.x) {
            if (p.y < m_low.y) {
                m_low = p;
                m_lowBeforeHigh = false;
            } else if (p.y > m_high.y) {
                m_high = p;
                m_lowBeforeHigh = true;
            }
            m_last = p;
            return;
        }
        flushColumn();
        m_inColumn = true;
        m_first = m_low = m_high = m_last = p;
        m_lowBeforeHigh = true;
    }

    void breakLine()
    {
        flushColumn();
        // A run of several points on one pixel still gets its (zero-length) segment; a point
        // with no neighbour to join, a small cross (the first generation's point, say).
        if (m_out.size() == 1 && m_pointsInRun > 1)
            m_out.push_back(m_out.front());
        if (m_out.size() == 1 && m_pointsInRun == 1) {
            const PixelPoint p = m_out.front();
            // A pixel far outside the plot sits at the end of the int range: no overflow.
            auto moved = [](int v, int by) {
                return static_cast<int>(std::clamp<long long>(
                    static_cast<long long>(v) + by, std::numeric_limits<int>::min(),
                    std::numeric_limits<int>::max()));
            };
            m_canvas.line({moved(p.x, -markArm), p.y}, {moved(p.x, markArm), p.y});
            m_canvas.line({p.x, moved(p.y, -markArm)}, {p.x, moved(p.y, markArm)});
        }
        if (m_out.size() >= 2)
            m_canvas.polyline(m_out);
        m_out.clear();
        m_pointsInRun = 0;
    }

  private:
    static constexpr int markArm = 2;

    void flushColumn()
    {
        if (!m_inColumn)
            return;
        output(m_first);
        output(m_lowBeforeHigh ? m_low : m_high);
        output(m_lowBeforeHigh ? m_high : m_low);
        output(m_last);
        m_inColumn = false;
    }

    void output(PixelPoint p)
    {
        if (m_out.empty() || !(m_out.back() == p))
            m_out.push_back(p);
    }

    ChartCanvas& m_canvas;
    bool m_cull;
    std::vector<PixelPoint> m_out;
    std::size_t m_pointsInRun = 0;
    bool m_inColumn = false;
    bool m_lowBeforeHigh = true;
    PixelPoint m_first, m_low, m_high, m_last;
};

/// The label of an axis limit as step 8 measures it.
std::string limitLabel(double value, bool floating, int precision, bool scientific)
{
    return floating ? formatLabel(value, precision, scientific) : formatInteger(std::trunc(value));
}

void floatingXGrid(AxisGrid& grid, const PixelRect& plot, int spacing, float xmin, double xscale)
{
    int n = plot.width() / spacing;
    double step = static_cast<double>(plot.width()) / n;
    for (int i = 0; i <= n; ++i) {
        int x = toPixel(plot.left + i * step);
        grid.lines.push_back({{x, plot.bottom + 5}, {x, plot.top}});
        grid.labels.push_back(
            {{toPixel(plot.left + i * step + 8), plot.bottom + 10},
             formatLabel(xmin + i * step * xscale, grid.precision, grid.scientific)});
    }
}

void floatingYGrid(AxisGrid& grid, const PixelRect& plot, int spacing, float ymin, double yscale)
{
    int n = plot.height() / spacing;
    double step = static_cast<double>(plot.height()) / n;
    for (int i = 0; i <= n; ++i) {
        int y = toPixel(plot.bottom - i * step);
        grid.lines.push_back({{plot.left - 4, y}, {plot.right, y}});
        grid.labels.push_back(
            {{plot.left - 8, toPixel(plot.bottom - i * step + 7)},
             formatLabel(ymin + i * step * yscale, grid.precision, grid.scientific)});
    }
}

/// Grid lines on whole numbers about `spacing` pixels apart: `count` + 1 lines `step` data
/// units apart from the axis start.
struct IntegerSteps {
    double step = 1;
    int count = 0;
};

IntegerSteps integerSteps(double low, double high, double scale, int spacing)
{
    double range = high - low;
    // 1. How many intervals of about `spacing` pixels fit; at least one, as the plot is wider
    //    than the spacing.
    double fit = std::max(1.0, roundHalfAway(range / scale / spacing));
    // 2. A whole step that makes at most `fit` intervals.
    IntegerSteps s;
    s.step = std::trunc(range / fit + 1);
    s.count = static_cast<int>(std::trunc(range / s.step));
    return s;
}

void integerXGrid(AxisGrid& grid, const PixelRect& plot, int spacing, float xmin, float xmax,
                  double xscale)
{
    IntegerSteps s = integerSteps(xmin, xmax, xscale, spacing);
    for (int i = 0; i <= s.count; ++i) {
        int px = plot.left + toPixel(roundHalfAway(i * s.step / xscale));
        grid.lines.push_back({{px, plot.bottom + 5}, {px, plot.top}});
        grid.labels.push_back(
            {{px + 8, plot.bottom + 10}, formatInteger(std::trunc(xmin + i * s.step))});
    }
    // The last whole step may stop short of the axis end; close the grid at the plot's edge.
    if (s.step > 1 && xmin + s.step * s.count != static_cast<double>(xmax))
        grid.lines.push_back({{plot.right, plot.bottom + 5}, {plot.right, plot.top}});
    if (s.count == 0)
        grid.labels.push_back(
            {{plot.right + 8, plot.bottom + 10}, formatInteger(std::trunc(xmax))});
}

void integerYGrid(AxisGrid& grid, const PixelRect& plot, int spacing, float ymin, float ymax,
                  double yscale)
{
    IntegerSteps s = integerSteps(ymin, ymax, yscale, spacing);
    for (int i = 0; i <= s.count; ++i) {
        int py = plot.bottom - toPixel(roundHalfAway(i * s.step / yscale));
        grid.lines.push_back({{plot.left - 4, py}, {plot.right, py}});
        grid.labels.push_back(
            {{plot.left - 8, py + 7}, formatInteger(std::trunc(ymin + i * s.step))});
    }
    if (s.step > 1 && ymin + s.step * s.count != static_cast<double>(ymax))
        grid.lines.push_back({{plot.left - 4, plot.top}, {plot.right, plot.top}});
    if (s.count == 0)
        grid.labels.push_back({{plot.left - 8, plot.top + 7}, formatInteger(std::trunc(ymax))});
}

} // namespace

// ---- Items ------------------------------------------------------------------------------------

Line GraphObject::bounds() const { return Line::emptyBox(); }

Line Line::emptyBox() { return Line(FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX); }

Line Line::bounds() const
{
    if (!finite(x1, y1) || !finite(x2, y2))
        return emptyBox();
    return Line(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
}

void Line::draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin, float xscale,
                float yscale) const
{
    if (!finite(x1, y1) || !finite(x2, y2))
        return;
    canvas.line(mapToPixel(x1, y1, plot, xmin, ymin, xscale, yscale),
                mapToPixel(x2, y2, plot, xmin, ymin, xscale, yscale));
}

void Line::write(std::ostream& out) const
{
    putBytes(out, 1, 4);
    for (float v : {x1, y1, x2, y2})
        putFloat(out, v);
}

void Pen::draw(ChartCanvas& canvas, const PixelRect&, float, float, float, float) const
{
    canvas.setPen(style, colour, width);
}

void Pen::write(std::ostream& out) const
{
    putBytes(out, 4, 4);
    putBytes(out, static_cast<std::uint8_t>(style), 1);
    putBytes(out, colour, 4);
    putBytes(out, static_cast<std::uint16_t>(width), 2);
}

void PolyLine::append(double x, double y)
{
    DPoint p{toFloat(x), toFloat(y)};
    m_points.pushBack(std::make_unique<DPoint>(p));
    if (!finite(p.x, p.y))
        return;
    ++m_finiteCount;
    m_box.x1 = std::min(m_box.x1, p.x);
    m_box.y1 = std::min(m_box.y1, p.y);
    m_box.x2 = std::max(m_box.x2, p.x);
    m_box.y2 = std::max(m_box.y2, p.y);
}

Line PolyLine::bounds() const { return m_finiteCount > 0 ? m_box : Line::emptyBox(); }

void PolyLine::draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin,
                    float xscale, float yscale) const
{
    RunBuilder runs(canvas, canvas.allowsColumnCulling());
    for (const DPoint& p : m_points) {
        if (finite(p.x, p.y))
            runs.add(mapToPixel(p.x, p.y, plot, xmin, ymin, xscale, yscale));
        else
            runs.breakLine();
    }
    runs.breakLine();
}

void PolyLine::write(std::ostream& out) const
{
    putBytes(out, 2, 4);
    putBytes(out, static_cast<std::uint32_t>(m_points.size()), 4);
    for (const DPoint& p : m_points) {
        putFloat(out, p.x);
        putFloat(out, p.y);
    }
}

// ---- Arithmetic -------------------------------------------------------------------------------

PixelPoint mapToPixel(float x, float y, const PixelRect& plot, float xmin, float ymin, float xscale,
                      float yscale)
{
    double px = plot.left + 0.5 + (static_cast<double>(x) - xmin) / xscale;
    double py = plot.bottom + 0.5 + (static_cast<double>(ymin) - y) / yscale;
    return {toPixel(px), toPixel(py)};
}


int autoPrecision(int spacing, double scale)
{
    double unit = std::max(1, spacing) * scale;
    if (!(unit > 0) || !std::isfinite(unit))
        return 1;
    double digits = -std::floor(std::log10(unit));
    return digits < 1 ? 1 : static_cast<int>(digits);
}

bool needsScientific(double low, double high, int precision, int maxLength)
{
    auto tooLong = [&](double v) {
        return formatLabel(v, precision, false).size() > static_cast<std::size_t>(maxLength);
    };
    return tooLong(high) || tooLong(low);
}

std::string formatLabel(double value, int precision, bool scientific)
{
    char buffer[512];
    precision = std::clamp(precision, 0, 100);
    auto result = std::to_chars(
        buffer, buffer + sizeof buffer, value,
        scientific ? std::chars_format::scientific : std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return realToText(value);
    return std::string(buffer, result.ptr);
}

std::string formatInteger(double wholeNumber)
{
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, wholeNumber + 0.0,
                                std::chars_format::fixed, 0);
    if (result.ec != std::errc())
        return realToText(wholeNumber);
    return std::string(buffer, result.ptr);
}

// ---- Chart ------------------------------------------------------------------------------------

Chart::Chart(std::string xTitle, std::string yTitle)
    : xTitle(std::move(xTitle)), yTitle(std::move(yTitle))
{
}

Pen& Chart::addPen(PenStyle style, ColourValue colour, std::int16_t width)
{
    auto pen = std::make_unique<Pen>(style, colour, width);
    Pen& ref = *pen;
    items.pushBack(std::move(pen));
    return ref;
}

PolyLine& Chart::addPolyLine()
{
    auto series = std::make_unique<PolyLine>();
    PolyLine& ref = *series;
    items.pushBack(std::move(series));
    return ref;
}

ChartLayout Chart::layout(ChartCanvas& canvas, const PixelRect& rect) const
{
    ChartLayout out;

    // 1. Range: the union of the items' boxes, unless a fixed range applies.
    Line range = Line::emptyBox();
    for (const GraphObject& item : items) {
        Line box = item.bounds();
        range.x1 = std::min(range.x1, box.x1);
        range.y1 = std::min(range.y1, box.y1);
        range.x2 = std::max(range.x2, box.x2);
        range.y2 = std::max(range.y2, box.y2);
    }
    if (rangeXStart != rangeXEnd) {
        range.x1 = std::min(rangeXStart, rangeXEnd);
        range.x2 = std::max(rangeXStart, rangeXEnd);
    }
    if (rangeYStart != rangeYEnd) {
        range.y1 = std::min(rangeYStart, rangeYEnd);
        range.y2 = std::max(rangeYStart, rangeYEnd);
    }
    float lowX = range.x1, lowY = range.y1, highX = range.x2, highY = range.y2;

    // 2. Nothing to draw without items or while a limit is still at its start value.
    if (items.empty() || lowX == FLT_MAX || lowY == FLT_MAX || highX == -FLT_MAX ||
        highY == -FLT_MAX || !finite(lowX, lowY) || !finite(highX, highY))
        return out;

    // 3.-4. Equal limits are widened; a whole-number axis is widened to whole numbers.
    widenEqual(lowX, highX);
    widenEqual(lowY, highY);
    if (!floatingY) {
        lowY = std::floor(lowY);
        highY = std::ceil(highY);
    }
    if (!floatingX) {
        lowX = std::floor(lowX);
        highX = std::ceil(highX);
    }
    out.xmin = lowX;
    out.ymin = lowY;
    out.xmax = highX;
    out.ymax = highY;
    out.hasRange = true;
    if (rect.width() <= 0 || rect.height() <= 0)
        return out;
    const double rangeX = static_cast<double>(highX) - lowX;
    const double rangeY = static_cast<double>(highY) - lowY;
    const int spaceX = std::max<int>(1, spacingX);
    const int spaceY = std::max<int>(1, spacingY);

    // 5. First scales on the whole rectangle.
    double scaleX = rangeX / rect.width();
    double scaleY = rangeY / rect.height();

    // 6. Proportional: narrow the side that has room to spare.
    PixelRect plot = rect;
    if (proportional) {
        if (rect.height() > rangeY / scaleX)
            plot.bottom = toPixel(rect.top + rect.height() / scaleX * scaleY);
        else
            plot.right = toPixel(rect.left + rect.width() / scaleY * scaleX);
    }

    // 7. Precisions the user has not fixed follow the scale.
    out.xGrid.precision = precisionX;
    out.yGrid.precision = precisionY;
    if (showPitch) {
        if (!precisionXSet)
            out.xGrid.precision = autoPrecision(spaceX, scaleX);
        if (!precisionYSet)
            out.yGrid.precision = autoPrecision(spaceY, scaleY);
    }
    out.xGrid.integer = !floatingX;
    out.yGrid.integer = !floatingY;

    // 8. Room for the labels: the wider of the two limits' labels on each axis.
    if (showPitch) {
        AxisGrid& gy = out.yGrid;
        gy.scientific = floatingY && needsScientific(lowY, highY, gy.precision, maxLabelLength);
        out.yLabelWidth =
            std::max(canvas.textWidth(FontRole::Horizontal,
                                      limitLabel(highY, floatingY, gy.precision, gy.scientific)),
                     canvas.textWidth(FontRole::Horizontal,
                                      limitLabel(lowY, floatingY, gy.precision, gy.scientific)));
        AxisGrid& gx = out.xGrid;
        gx.scientific = floatingX && needsScientific(lowX, highX, gx.precision, maxLabelLength);
        out.xLabelWidth =
            std::max(canvas.textWidth(FontRole::Vertical,
                                      limitLabel(highX, floatingX, gx.precision, gx.scientific)),
                     canvas.textWidth(FontRole::Vertical,
                                      limitLabel(lowX, floatingX, gx.precision, gx.scientific)));
    }

    // 9. The plot rectangle inside the margins and labels.
    plot.left += out.yLabelWidth + 20;
    plot.right -= 20;
    plot.top += 20;
    plot.bottom -= out.xLabelWidth + 20;
    if (!(plot.width() > spaceX && plot.height() > spaceY))
        return out;

    // 10. Final scales on the plot rectangle.
    scaleX = rangeX / plot.width();
    scaleY = rangeY / plot.height();
    if (proportional) {
        // The margins and labels above differ per axis, so the rectangle of step 6 is only
        // nearly proportional; give both axes the coarser scale and shrink the other side.
        double scale = std::max(scaleX, scaleY);
        plot.right = plot.left + toPixel(roundHalfAway(rangeX / scale));
        plot.bottom = plot.top + toPixel(roundHalfAway(rangeY / scale));
        scaleX = scaleY = scale;
        if (!(plot.width() > spaceX && plot.height() > spaceY))
            return out;
    }
    out.plot = plot;
    out.xscale = scaleX;
    out.yscale = scaleY;
    out.hasPlot = true;

    // 11. Grids and titles.
    if (showPitch) {
        if (floatingX)
            floatingXGrid(out.xGrid, plot, spaceX, lowX, scaleX);
        else
            integerXGrid(out.xGrid, plot, spaceX, lowX, highX, scaleX);
        if (floatingY)
            floatingYGrid(out.yGrid, plot, spaceY, lowY, scaleY);
        else
            integerYGrid(out.yGrid, plot, spaceY, lowY, highY, scaleY);
    }
    out.yTitleAt = {plot.left + 5, plot.top + 10};
    out.xTitleAt = {plot.right - 10, plot.bottom - 5};

    // 13. Items are clipped to one pixel around the plot.
    out.clip = {plot.left - 1, plot.top - 1, plot.right + 1, plot.bottom + 1};
    out.drawsItems = static_cast<float>(scaleX) != 0 && static_cast<float>(scaleY) != 0;
    return out;
}

void Chart::paint(ChartCanvas& canvas, const PixelRect& rect)
{
    ChartLayout l = layout(canvas, rect);
    if (!l.hasRange)
        return;
    xmin = l.xmin;
    ymin = l.ymin;
    xmax = l.xmax;
    ymax = l.ymax;
    if (!l.hasPlot)
        return;
    xscale = l.xscale;
    yscale = l.yscale;
    if (showPitch && !precisionXSet)
        precisionX = static_cast<std::int16_t>(std::min(l.xGrid.precision, INT16_MAX));
    if (showPitch && !precisionYSet)
        precisionY = static_cast<std::int16_t>(std::min(l.yGrid.precision, INT16_MAX));

    canvas.setPen(PenStyle::Dot, gridColour, 1);
    if (showPitch) {
        for (const GridLine& g : l.xGrid.lines)
            canvas.line(g.from, g.to);
        for (const GridLabel& g : l.xGrid.labels)
            canvas.text(FontRole::Vertical, g.at, TextAlign::RightBottom, g.text);
        for (const GridLine& g : l.yGrid.lines)
            canvas.line(g.from, g.to);
        for (const GridLabel& g : l.yGrid.labels)
            canvas.text(FontRole::Horizontal, g.at, TextAlign::RightBottom, g.text);
        canvas.text(FontRole::Vertical, l.yTitleAt, TextAlign::RightTop, yTitle);
        canvas.text(FontRole::Horizontal, l.xTitleAt, TextAlign::RightBottom, xTitle);
    }

    if (l.drawsItems) {
        canvas.setClip(l.clip);
        for (const GraphObject& item : items)
            item.draw(canvas, l.plot, xmin, ymin, static_cast<float>(xscale),
                      static_cast<float>(yscale));
        canvas.clearClip();
    }
}

bool Chart::inputPrecision(bool xAxis, const std::string& text)
{
    if (text.empty())
        return false;
    int precision = strToInt(text);
    if (precision <= 0 || precision >= maxLabelLength)
        return false;
    (xAxis ? precisionX : precisionY) = static_cast<std::int16_t>(precision);
    (xAxis ? precisionXSet : precisionYSet) = true;
    return true;
}

} // namespace zyl
