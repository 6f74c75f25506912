#include "windows/ParetoPlot.h"

#include "common/TextConvert.h"
#include "windows/ParetoWindow.h"

#include <QFontMetrics>
#include <QLineF>
#include <QList>
#include <QPaintEngine>
#include <QPainter>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace zyl {

namespace {

constexpr double kNotDrawn = std::numeric_limits<double>::quiet_NaN();
const QColor kGrid(0x88, 0x88, 0x88);

QString text(double value) { return QString::fromStdString(realToText(value)); }

/// Round values (1, 2 or 5 times a power of ten apart) within [lo; hi], at most about `most`
/// of them. Halves keep the differences of values near the largest reals finite.
std::vector<double> niceTicks(double lo, double hi, int most)
{
    std::vector<double> ticks;
    const double raw = (hi / 2 - lo / 2) * 2 / std::max(1, most);
    if (!(raw > 0) || !std::isfinite(raw))
        return ticks;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * magnitude;
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * magnitude >= raw) {
            step = factor * magnitude;
            break;
        }
    const double first = std::ceil(lo / step), last = std::floor(hi / step);
    if (!(last - first < 1000))
        return ticks;
    for (double k = first; k <= last; ++k)
        ticks.push_back(k * step + 0.0); // + 0.0: never a "-0" label
    return ticks;
}

bool finite(QPointF p) { return std::isfinite(p.x()) && std::isfinite(p.y()); }

/// A one-pixel line from `a` to `b` set into `image` (32 bits a pixel) in `colour`: one pixel
/// per step along the longer direction, the other coordinate in fixed point (no branch to
/// mispredict, unlike the classic error term). Pixels outside the image are left out.
void setLinePixels(QImage& image, QPointF a, QPointF b, QRgb colour)
{
    auto pixel = [](double v) { return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6))); };
    int x0 = pixel(a.x()), y0 = pixel(a.y()), x1 = pixel(b.x()), y1 = pixel(b.y());
    const bool xMajor = std::abs(x1 - x0) >= std::abs(y1 - y0);
    if (!xMajor) {
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const std::int64_t step =
        (static_cast<std::int64_t>(y1 - y0) << 16) / std::max(1, x1 - x0);
    std::int64_t minor = (static_cast<std::int64_t>(y0) << 16) + 0x8000;
    const unsigned width = static_cast<unsigned>(image.width());
    const unsigned height = static_cast<unsigned>(image.height());
    auto* bits = reinterpret_cast<QRgb*>(image.bits());
    const qsizetype stride = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    for (int major = x0; major <= x1; ++major, minor += step) {
        const int other = static_cast<int>(minor >> 16);
        const int x = xMajor ? major : other, y = xMajor ? other : major;
        if (static_cast<unsigned>(x) < width && static_cast<unsigned>(y) < height)
            bits[y * stride + x] = colour;
    }
}

} // namespace

QString ParetoPlot::objectiveTitle(const ParetoSnapshot& snapshot, int k)
{
    QString title = QString::fromStdString(snapshot.objectiveNames[static_cast<std::size_t>(k)]);
    if (static_cast<std::size_t>(k) < snapshot.maximised.size() &&
        snapshot.maximised[static_cast<std::size_t>(k)])
        title += QStringLiteral(" (max)");
    return title;
}

ParetoPlot::Range ParetoPlot::rangeOf(const ParetoSnapshot& snapshot, int objective, bool margin)
{
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const ParetoPoint& point : snapshot.points) {
        if (static_cast<std::size_t>(objective) >= point.objectives.size())
            continue;
        const double v = point.objectives[static_cast<std::size_t>(objective)];
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (lo > hi)
        return {0, 1};
    if (lo == hi) {
        // Far from zero a step of 1 would vanish in the rounding.
        const double widen = std::max(1.0, std::abs(lo) * 1e-6);
        return {lo - widen, hi + widen};
    }
    if (margin) {
        const double extra = (hi / 2 - lo / 2) * 0.08;
        if (std::isfinite(lo - extra) && std::isfinite(hi + extra))
            return {lo - extra, hi + extra};
    }
    return {lo, hi};
}

ParetoPlot::ParetoPlot(const ParetoSnapshot& snapshot, const ParetoView& view, const QRect& rect,
                       const QFont& font)
    : m_snapshot(snapshot), m_view(view), m_rect(rect), m_font(font)
{
    const int objectives = static_cast<int>(snapshot.objectiveNames.size());
    const QFontMetrics metrics(m_font);
    m_lineHeight = metrics.height();
    if (objectives == 0)
        return;
    m_view.xObjective = std::clamp(m_view.xObjective, 0, objectives - 1);
    m_view.yObjective = std::clamp(m_view.yObjective, 0, objectives - 1);
    m_view.parallel = m_view.parallel && objectives >= 2;

    if (m_view.parallel) {
        for (int k = 0; k < objectives; ++k)
            m_axes.push_back(rangeOf(snapshot, k, /*margin=*/false));
        // The outer axes' names and values are centred on them: room for half of them.
        int widest = 0;
        for (int k : {0, objectives - 1})
            widest = std::max({widest, metrics.horizontalAdvance(objectiveTitle(snapshot, k)),
                               metrics.horizontalAdvance(text(m_axes[k].hi)),
                               metrics.horizontalAdvance(text(m_axes[k].lo))});
        const int side = std::min(widest / 2 + 8, rect.width() / 6);
        m_plot = QRect(QPoint(rect.left() + side, rect.top() + 3 * m_lineHeight + 14),
                       QPoint(rect.right() - side, rect.bottom() - m_lineHeight - 10));
    } else {
        m_axes = {rangeOf(snapshot, m_view.xObjective, true),
                  rangeOf(snapshot, m_view.yObjective, true)};
        const int top = rect.top() + m_lineHeight + 12;
        const int bottom = rect.bottom() - 2 * m_lineHeight - 14;
        int labelWidth = 0;
        for (double tick : niceTicks(m_axes[1].lo, m_axes[1].hi,
                                     std::max(2, (bottom - top) / (3 * m_lineHeight))))
            labelWidth = std::max(labelWidth, metrics.horizontalAdvance(text(tick)));
        m_plot = QRect(QPoint(rect.left() + std::max(labelWidth + 14, 40), top),
                       QPoint(rect.right() - 24, bottom));
    }

    const int axes = axisCount();
    const std::size_t count = snapshot.points.size();
    m_positions.assign(count * static_cast<std::size_t>(axes), QPointF(kNotDrawn, kNotDrawn));
    if (m_plot.width() < 4 || m_plot.height() < 4)
        return;
    auto value = [&](const ParetoPoint& point, int k) {
        return static_cast<std::size_t>(k) < point.objectives.size()
                   ? point.objectives[static_cast<std::size_t>(k)]
                   : kNotDrawn;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const ParetoPoint& point = snapshot.points[i];
        QPointF* out = &m_positions[i * static_cast<std::size_t>(axes)];
        if (m_view.parallel) {
            for (int k = 0; k < axes; ++k) {
                const double x =
                    m_plot.left() + m_plot.width() * static_cast<double>(k) / (axes - 1);
                out[k] = QPointF(x, toY(value(point, k), m_axes[k]));
            }
        } else {
            out[0] = QPointF(toX(value(point, m_view.xObjective), m_axes[0]),
                             toY(value(point, m_view.yObjective), m_axes[1]));
        }
    }
}

double ParetoPlot::toX(double value, const Range& range) const
{
    if (!std::isfinite(value))
        return kNotDrawn;
    return m_plot.left() + (value / 2 - range.lo / 2) / (range.hi / 2 - range.lo / 2) * m_plot.width();
}

double ParetoPlot::toY(double value, const Range& range) const
{
    if (!std::isfinite(value))
        return kNotDrawn;
    return m_plot.bottom() -
           (value / 2 - range.lo / 2) / (range.hi / 2 - range.lo / 2) * m_plot.height();
}

QPointF ParetoPlot::position(int design, int axis) const
{
    const std::size_t at = static_cast<std::size_t>(design) * axisCount() + axis;
    return design >= 0 && axis >= 0 && axis < axisCount() && at < m_positions.size()
               ? m_positions[at]
               : QPointF(kNotDrawn, kNotDrawn);
}

std::vector<int> ParetoPlot::drawingOrder() const
{
    std::vector<int> order;
    order.reserve(m_snapshot.points.size());
    const int count = static_cast<int>(m_snapshot.points.size());
    for (int pass = 0; pass < 3; ++pass)
        for (int i = 0; i < count; ++i) {
            const ParetoPoint& point = m_snapshot.points[static_cast<std::size_t>(i)];
            const int kind = point.onFront ? 2 : point.violation != 0 ? 1 : 0;
            if (kind == pass)
                order.push_back(i);
        }
    return order;
}

int ParetoPlot::designAt(QPointF pos, double radius) const
{
    int found = -1;
    double best = radius * radius;
    for (int i : drawingOrder())
        for (int k = 0; k < axisCount(); ++k) {
            const QPointF p = position(i, k);
            if (!finite(p))
                continue;
            const double dx = p.x() - pos.x(), dy = p.y() - pos.y();
            // Equal distances go to the later design: it is drawn over the earlier one.
            if (dx * dx + dy * dy <= best) {
                best = dx * dx + dy * dy;
                found = i;
            }
        }
    return found;
}

void ParetoPlot::paint(QPainter& painter) const
{
    painter.save();
    painter.setFont(m_font);
    painter.setBrush(Qt::NoBrush);
    if (m_snapshot.objectiveNames.empty() || m_snapshot.points.empty()) {
        painter.setPen(Qt::black);
        painter.drawText(m_rect, Qt::AlignCenter, QStringLiteral("No designs yet"));
        painter.restore();
        return;
    }
    if (m_plot.width() < 4 || m_plot.height() < 4) {
        painter.restore();
        return;
    }
    if (m_view.parallel)
        paintParallelAxes(painter);
    else
        paintScatterAxes(painter);
    paintLegend(painter);
    painter.setClipRect(m_plot.adjusted(-4, -4, 4, 4));
    paintDesigns(painter, drawingOrder());
    painter.restore();
}

void ParetoPlot::paintScatterAxes(QPainter& painter) const
{
    const QFontMetrics metrics(m_font);
    QPen grid(kGrid);
    grid.setStyle(Qt::DotLine);
    const Range& x = m_axes[0];
    const Range& y = m_axes[1];
    // As many labels as fit side by side, each as wide as the widest of them and a gap.
    int widest = metrics.horizontalAdvance(QStringLiteral("-0.00000"));
    for (double v : {x.lo, x.hi})
        widest = std::max(widest, metrics.horizontalAdvance(text(v)));
    for (double tick : niceTicks(x.lo, x.hi, std::max(2, m_plot.width() / (widest + 16)))) {
        const double px = toX(tick, x);
        painter.setPen(grid);
        painter.drawLine(QPointF(px, m_plot.top()), QPointF(px, m_plot.bottom() + 4));
        painter.setPen(Qt::black);
        const QString label = text(tick);
        painter.drawText(QPointF(px - metrics.horizontalAdvance(label) / 2.0,
                                 m_plot.bottom() + 6 + metrics.ascent()),
                         label);
    }
    for (double tick :
         niceTicks(y.lo, y.hi, std::max(2, m_plot.height() / (3 * m_lineHeight)))) {
        const double py = toY(tick, y);
        painter.setPen(grid);
        painter.drawLine(QPointF(m_plot.left() - 4, py), QPointF(m_plot.right(), py));
        painter.setPen(Qt::black);
        const QString label = text(tick);
        painter.drawText(QPointF(m_plot.left() - 8 - metrics.horizontalAdvance(label),
                                 py + metrics.ascent() / 2.0 - 1),
                         label);
    }
    painter.setPen(kGrid);
    painter.drawRect(m_plot);
    painter.setPen(Qt::black);
    const QString xTitle = objectiveTitle(m_snapshot, m_view.xObjective);
    painter.drawText(QPointF(m_plot.center().x() - metrics.horizontalAdvance(xTitle) / 2.0,
                             m_plot.bottom() + 10 + m_lineHeight + metrics.ascent()),
                     xTitle);
    painter.drawText(QPointF(m_plot.left(), m_rect.top() + 4 + metrics.ascent()),
                     objectiveTitle(m_snapshot, m_view.yObjective));
}

void ParetoPlot::paintParallelAxes(QPainter& painter) const
{
    const QFontMetrics metrics(m_font);
    const int axes = axisCount();
    const int spacing = m_plot.width() / (axes - 1);
    auto centred = [&](const QString& label, double x, double baseline) {
        const QString shown = metrics.elidedText(label, Qt::ElideRight, std::max(spacing - 6, 12));
        painter.drawText(QPointF(x - metrics.horizontalAdvance(shown) / 2.0, baseline), shown);
    };
    for (int k = 0; k < axes; ++k) {
        const double x = m_plot.left() + m_plot.width() * static_cast<double>(k) / (axes - 1);
        painter.setPen(kGrid);
        painter.drawLine(QPointF(x, m_plot.top()), QPointF(x, m_plot.bottom()));
        painter.setPen(Qt::black);
        centred(objectiveTitle(m_snapshot, k), x, m_plot.top() - 8 - m_lineHeight - metrics.descent());
        centred(text(m_axes[static_cast<std::size_t>(k)].hi), x, m_plot.top() - 6 - metrics.descent());
        centred(text(m_axes[static_cast<std::size_t>(k)].lo), x,
                m_plot.bottom() + 6 + metrics.ascent());
    }
}

void ParetoPlot::paintLegend(QPainter& painter) const
{
    bool present[3] = {false, false, false};
    // Infeasible designs have their colour on the front too.
    for (const ParetoPoint& point : m_snapshot.points)
        present[point.violation != 0 ? 2 : point.onFront ? 0 : 1] = true;
    const QFontMetrics metrics(m_font);
    const QString names[3] = {QStringLiteral("front"), QStringLiteral("population"),
                              QStringLiteral("infeasible")};
    const QColor colours[3] = {ParetoColours::front, ParetoColours::population,
                               ParetoColours::infeasible};
    // Right-aligned along the top edge, in the order of the names.
    double x = m_rect.right() - 8;
    const double baseline = m_rect.top() + 4 + metrics.ascent();
    for (int kind = 2; kind >= 0; --kind) {
        if (!present[kind])
            continue;
        x -= metrics.horizontalAdvance(names[kind]);
        painter.setPen(Qt::black);
        painter.drawText(QPointF(x, baseline), names[kind]);
        x -= 12;
        painter.fillRect(QRectF(x, baseline - metrics.ascent() / 2.0 - 4, 8, 8), colours[kind]);
        x -= 12;
    }
}

void ParetoPlot::paintDesigns(QPainter& painter, const std::vector<int>& order) const
{
    const int axes = axisCount();
    auto colourOf = [](const ParetoPoint& point) {
        if (point.violation != 0)
            return ParetoColours::infeasible;
        return point.onFront ? ParetoColours::front : ParetoColours::population;
    };
    // Parallel coordinates draw a long line per design and pair of axes. On pixels these are
    // set straight into a layer of their own, some four times sooner than the painter draws
    // them (10,000 designs must redraw in well under a tenth of a second); vector pictures
    // keep the painter's lines.
    QImage layer;
    const QRect layerRect = m_plot.adjusted(0, 0, 1, 1);
    const QPaintEngine* engine = painter.paintEngine();
    if (m_view.parallel && engine && engine->type() == QPaintEngine::Raster &&
        painter.transform().isIdentity()) {
        const qreal ratio = painter.device()->devicePixelRatioF();
        layer = QImage(layerRect.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
    }
    // Batched by colour and size: one call draws all the designs that look alike in a row.
    QList<QRectF> squares;
    QList<QLineF> lines;
    QColor colour;
    double size = 0;
    auto flush = [&] {
        if (!layer.isNull()) {
            const qreal ratio = layer.devicePixelRatio();
            for (const QLineF& line : lines)
                setLinePixels(layer, (line.p1() - layerRect.topLeft()) * ratio,
                              (line.p2() - layerRect.topLeft()) * ratio, colour.rgb());
        } else if (m_view.parallel && !lines.isEmpty()) {
            painter.setPen(QPen(colour, 0));
            painter.drawLines(lines);
        } else if (!squares.isEmpty()) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawRects(squares);
        }
        lines.clear();
        squares.clear();
    };
    for (int i : order) {
        const ParetoPoint& point = m_snapshot.points[static_cast<std::size_t>(i)];
        const QColor c = colourOf(point);
        const double s = point.onFront ? 5 : 3;
        if (c != colour || s != size) {
            flush();
            colour = c;
            size = s;
        }
        if (m_view.parallel) {
            for (int k = 1; k < axes; ++k) {
                const QPointF a = position(i, k - 1), b = position(i, k);
                if (finite(a) && finite(b))
                    lines.append(QLineF(a, b));
            }
        } else if (const QPointF p = position(i); finite(p)) {
            squares.append(QRectF(p.x() - s / 2, p.y() - s / 2, s, s));
        }
    }
    flush();
    if (!layer.isNull())
        painter.drawImage(layerRect.topLeft(), layer);

    const int selected = m_view.selected;
    if (selected < 0 || static_cast<std::size_t>(selected) >= m_snapshot.points.size())
        return;
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 2));
    if (m_view.parallel) {
        for (int k = 1; k < axes; ++k) {
            const QPointF a = position(selected, k - 1), b = position(selected, k);
            if (finite(a) && finite(b))
                painter.drawLine(a, b);
        }
    } else if (const QPointF p = position(selected); finite(p)) {
        painter.drawRect(QRectF(p.x() - 5, p.y() - 5, 10, 10));
    }
}

} // namespace zyl
