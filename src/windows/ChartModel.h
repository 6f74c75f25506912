#pragma once

#include "expr/Functions.h"

// The drawing model of a chart window and all of its arithmetic (ranges, scales, grids, labels),
// written against the small ChartCanvas interface so that it needs no GUI toolkit: the window
// only adapts a painter to ChartCanvas, and tests check the numbers through ChartLayout.

#include "common/DoubleList.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace zyl {

/// One point of a series, stored as 32-bit floats to keep long runs small.
struct DPoint {
    float x = 0;
    float y = 0;
};

/// A pixel position on a canvas.
struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

/// A pixel rectangle whose right and bottom edges are exclusive for clipping but are the
/// pixels where the data maximums land: x maps from `left` (xmin) to `right` (xmax).
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const PixelRect&) const = default;
};

/// Pen styles in the order of the platform's pen-style byte.
enum class PenStyle : std::uint8_t { Solid, Dash, Dot, DashDot, DashDotDot, Clear, InsideFrame };

/// A colour as the platform's colour value 0x00BBGGRR (red in the low byte).
using ColourValue = std::uint32_t;

/// A font as the chart asks for it: a family, a character height in pixels given negative as
/// the platform does (-12: 12 pixels without leading), and an escapement in tenths of a degree
/// (900: rotated 90 degrees, reading upward).
struct ChartFont {
    std::string family = "Arial";
    int height = -12;
    int escapement = 0;
};

/// Which of the chart's two fonts a text uses.
enum class FontRole { Horizontal, Vertical };

/// Where a text's reference point lies. The horizontal position is always the right end of
/// the text along its reading direction; the vertical one is its top or its bottom line, which
/// for the vertical font are its left and right sides on screen.
enum class TextAlign { RightTop, RightBottom };

/// What the chart draws on. Implemented by the window with a painter and by tests with a
/// recorder. Coordinates are pixels.
class ChartCanvas {
  public:
    virtual ~ChartCanvas() = default;
    /// Width in pixels of `text` along its reading direction in the given font.
    virtual int textWidth(FontRole font, std::string_view text) = 0;
    virtual void setPen(PenStyle style, ColourValue colour, int width) = 0;
    virtual void line(PixelPoint from, PixelPoint to) = 0;
    /// Joins the points in order; fewer than two points draw nothing.
    virtual void polyline(const std::vector<PixelPoint>& points) = 0;
    virtual void text(FontRole font, PixelPoint at, TextAlign align, std::string_view text) = 0;
    virtual void setClip(const PixelRect& clip) = 0;
    virtual void clearClip() = 0;
    /// True when a series may drop points that fall on one pixel column without changing the
    /// picture: only so for a solid pen, whose look does not depend on the path's length.
    virtual bool allowsColumnCulling() const { return false; }
};

class Line;

/// An item of a chart: a pen change or something that is drawn.
class GraphObject {
  public:
    virtual ~GraphObject() = default;
    /// The item's data box from (minimum x, minimum y) to (maximum x, maximum y); the empty
    /// box (minimums +FLT_MAX, maximums -FLT_MAX) when the item does not affect the range.
    virtual Line bounds() const;
    /// Draws the item into `plot` with the chart's current range start and scales (data
    /// units per pixel).
    virtual void draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin,
                      float xscale, float yscale) const = 0;
    /// Appends the item to a binary stream: a 4-byte little-endian type tag, then its data.
    virtual void write(std::ostream& out) const = 0;
};

/// A segment; also the box type that `bounds` returns.
class Line : public GraphObject {
  public:
    Line() = default;
    Line(float x1, float y1, float x2, float y2) : x1(x1), y1(y1), x2(x2), y2(y2) {}
    /// The box no data lies in: widening a range by it changes nothing.
    static Line emptyBox();
    /// False for the empty box (and any box whose minimum lies above its maximum).
    bool isBox() const { return x1 <= x2 && y1 <= y2; }

    Line bounds() const override;
    void draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin, float xscale,
              float yscale) const override;
    /// Tag 1, then x1, y1, x2, y2 as 4-byte floats.
    void write(std::ostream& out) const override;

    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

/// Changes the pen for the items after it.
class Pen : public GraphObject {
  public:
    Pen() = default;
    Pen(PenStyle style, ColourValue colour, std::int16_t width)
        : style(style), colour(colour), width(width)
    {
    }
    void draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin, float xscale,
              float yscale) const override;
    /// Tag 4, style (1 byte), colour (4 bytes), width (2 bytes).
    void write(std::ostream& out) const override;

    PenStyle style = PenStyle::Solid;
    ColourValue colour = 0;
    std::int16_t width = 1;
};

/// A series of points joined in order.
///
/// Points that are not finite (NaN, infinities, and reals beyond the 32-bit float range) are
/// kept, so nothing the caller gave is lost, but they take no part in the range and break the
/// line: the series is drawn as separate runs on either side of such a point.
class PolyLine : public GraphObject {
  public:
    /// Appends (x, y), converted to 32-bit floats.
    void append(double x, double y);
    const DoubleList<DPoint>& points() const { return m_points; }
    std::size_t size() const { return m_points.size(); }

    /// The box of the finite points, or the empty box without one. Kept up to date by
    /// `append`.
    Line bounds() const override;
    /// Maps every point to its pixel and joins them; a finite point between no finite
    /// neighbours is drawn as a small cross. On a canvas that allows it, runs of points on one
    /// pixel column are reduced to their first, lowest, highest and last pixel, which covers
    /// the same pixels with far fewer segments.
    void draw(ChartCanvas& canvas, const PixelRect& plot, float xmin, float ymin, float xscale,
              float yscale) const override;
    /// Tag 2, the point count (4 bytes), then x and y of each point as 4-byte floats.
    void write(std::ostream& out) const override;

  private:
    DoubleList<DPoint> m_points;
    std::size_t m_finiteCount = 0;
    Line m_box = Line::emptyBox();
};

/// The pixel that a data point maps to: trunc(left + 0.5 + (x - xmin) / xscale) and
/// trunc(bottom + 0.5 + (ymin - y) / yscale), kept within the int range.
PixelPoint mapToPixel(float x, float y, const PixelRect& plot, float xmin, float ymin, float xscale,
                      float yscale);

// The integer grid rounds half away from zero like the language's round: roundHalfAway of
// expr/Functions.h.

/// Digits after the point for an axis whose grid lines are at least `spacing` pixels apart:
/// -floor(log10(spacing * scale)), at least 1.
int autoPrecision(int spacing, double scale);

/// True when fixed notation with `precision` digits would make a label of `low` or `high`
/// longer than `maxLength` characters, so the axis is labelled in scientific notation.
bool needsScientific(double low, double high, int precision, int maxLength);

/// A floating-grid label: fixed ("12.50") or scientific ("1.25e+01") with `precision` digits
/// after the point; always "." as the separator.
std::string formatLabel(double value, int precision, bool scientific);

/// An integer-grid label: the whole number in decimal ("-3", "30000"); never "-0".
std::string formatInteger(double wholeNumber);

/// A dotted grid line or a label of one axis.
struct GridLine {
    PixelPoint from;
    PixelPoint to;
};
struct GridLabel {
    PixelPoint at;
    std::string text;
};

/// The grid of one axis as it is drawn: lines first, labels with them.
struct AxisGrid {
    int precision = 0;
    bool scientific = false;
    bool integer = false; ///< whole-number grid (the axis is not floating)
    std::vector<GridLine> lines;
    std::vector<GridLabel> labels;
};

/// Everything a paint computes before it draws the items. `Chart::layout` fills it; the
/// stages tell how far painting gets.
struct ChartLayout {
    bool hasRange = false; ///< some item has a data box (or a fixed range applies)
    bool hasPlot = false;  ///< the plot rectangle is large enough for grid and items
    float xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    double xscale = 0, yscale = 0;
    int xLabelWidth = 0; ///< pixels that the vertical x labels need below the plot
    int yLabelWidth = 0; ///< pixels that the y labels need left of the plot
    PixelRect plot;
    AxisGrid xGrid, yGrid;   ///< empty without show pitch
    PixelPoint xTitleAt;     ///< horizontal font, right and bottom
    PixelPoint yTitleAt;     ///< vertical font, right (and top)
    PixelRect clip;          ///< one pixel around the plot rectangle
    bool drawsItems = false; ///< both scales are non-zero
};

/// The drawing model of one chart window: items drawn in order into automatic ranges, a dotted
/// grid with numeric labels, and two axis titles. Options are plain fields; the window and the
/// user plots change them directly.
class Chart {
  public:
    /// A chart with the given axis titles and every option at its default.
    Chart(std::string xTitle, std::string yTitle);

    /// Appends a pen; it applies to the items after it.
    Pen& addPen(PenStyle style, ColourValue colour, std::int16_t width);
    /// Appends an empty series; the chart owns it, the caller may keep the reference.
    PolyLine& addPolyLine();

    /// Computes the range, the scales, the plot rectangle, the grids and the titles for a
    /// paint into `rect`, measuring label texts on `canvas`. Draws nothing.
    ChartLayout layout(ChartCanvas& canvas, const PixelRect& rect) const;

    /// Paints the chart into `rect`: grid, labels and titles (with show pitch), then every item
    /// clipped to the plot. Draws nothing (the background stays) when there is no range or the
    /// rectangle is too small. Stores the range, scales and computed precisions in the fields.
    void paint(ChartCanvas& canvas, const PixelRect& rect);

    /// Applies a precision typed by the user for the x (or y) axis. Empty text changes nothing;
    /// an integer p with 0 < p < maxLabelLength becomes the axis precision and stops it from
    /// being computed; other integers are ignored. Returns true when the precision was taken.
    /// \throws Exception "'<text>' is not a valid integer value" for text that is no integer.
    bool inputPrecision(bool xAxis, const std::string& text);

    DoubleList<GraphObject> items;

    // Computed at every paint.
    float xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    double xscale = 0, yscale = 0;

    std::int16_t precisionX = 2, precisionY = 2;
    std::int16_t spacingX = 20, spacingY = 20; ///< minimum pixels between grid lines
    std::int16_t maxLabelLength = 9;
    bool showPitch = true;
    bool floatingX = true, floatingY = true;
    bool proportional = false;
    bool precisionXSet = false, precisionYSet = false;
    /// A fixed range for an axis, used when start differs from end.
    float rangeXStart = 0, rangeXEnd = 0, rangeYStart = 0, rangeYEnd = 0;
    std::string xTitle, yTitle;
    ChartFont horizontalFont;
    ChartFont verticalFont{"Arial", -12, 900};
};

} // namespace zyl
