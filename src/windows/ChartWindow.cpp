#include "windows/ChartWindow.h"

#include "common/Exception.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPaintEngine>
#include <QPainter>
#include <QPolygon>

#include <cstdlib>

namespace zyl {

namespace {

QColor toQColor(ColourValue value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

Qt::PenStyle toQtPenStyle(PenStyle style)
{
    switch (style) {
    case PenStyle::Dash:
        return Qt::DashLine;
    case PenStyle::Dot:
        return Qt::DotLine;
    case PenStyle::DashDot:
        return Qt::DashDotLine;
    case PenStyle::DashDotDot:
        return Qt::DashDotDotLine;
    case PenStyle::Clear:
        return Qt::NoPen;
    case PenStyle::Solid:
    case PenStyle::InsideFrame:
        break;
    }
    return Qt::SolidLine;
}

QFont toQFont(const ChartFont& font)
{
    // Font matching falls back to the nearest family the machine has.
    QFont qfont(QString::fromStdString(font.family));
    qfont.setPixelSize(std::max(1, std::abs(font.height)));
    return qfont;
}

QString toQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The chart's canvas on a QPainter.
class PainterCanvas : public ChartCanvas {
  public:
    PainterCanvas(QPainter& painter, const Chart& chart, bool columnCulling)
        : m_painter(painter), m_columnCulling(columnCulling),
          m_vector(painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::SVG),
          m_fonts{Face(chart.horizontalFont), Face(chart.verticalFont)}
    {
        m_painter.setBrush(Qt::NoBrush);
    }

    int textWidth(FontRole font, std::string_view text) override
    {
        return face(font).metrics.horizontalAdvance(toQString(text));
    }

    void setPen(PenStyle style, ColourValue colour, int width) override
    {
        QPen pen(toQColor(colour));
        pen.setStyle(toQtPenStyle(style));
        pen.setWidth(std::max(0, width));
        m_painter.setPen(pen);
        m_solid = pen.style() == Qt::SolidLine || pen.style() == Qt::NoPen;
    }

    void line(PixelPoint from, PixelPoint to) override
    {
        m_painter.drawLine(from.x, from.y, to.x, to.y);
    }

    void polyline(const std::vector<PixelPoint>& points) override
    {
        if (m_vector) {
            QPolygon polygon(static_cast<qsizetype>(points.size()));
            for (std::size_t i = 0; i < points.size(); ++i)
                polygon[static_cast<qsizetype>(i)] = QPoint(points[i].x, points[i].y);
            m_painter.drawPolyline(polygon);
            return;
        }
        // On pixels each segment is drawn on its own, ends included. A polyline's joints are
        // rasterised depending on the segments around them, which would let column culling
        // change a pixel here and there; separate segments cover exactly the union of their
        // pixels, so the culled picture is the full one.
        m_segments.resize(static_cast<qsizetype>(points.size() - 1));
        for (std::size_t i = 1; i < points.size(); ++i)
            m_segments[static_cast<qsizetype>(i - 1)] =
                QLine(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
        m_painter.drawLines(m_segments);
    }

    void text(FontRole font, PixelPoint at, TextAlign align, std::string_view text) override
    {
        const Face& f = face(font);
        QString s = toQString(text);
        int width = f.metrics.horizontalAdvance(s);
        int baseline = align == TextAlign::RightBottom ? -f.metrics.descent() : f.metrics.ascent();
        // Texts are in the font's colour, black, whatever pen the lines use.
        m_painter.save();
        m_painter.setFont(f.font);
        m_painter.setPen(Qt::black);
        // In the text's own frame "right" runs along the reading direction and "bottom"
        // across it, so the same offsets apply once the frame is rotated.
        m_painter.translate(at.x, at.y);
        if (f.angle != 0)
            m_painter.rotate(f.angle);
        m_painter.drawText(-width, baseline, s);
        m_painter.restore();
    }

    void setClip(const PixelRect& clip) override
    {
        m_painter.setClipRect(
            QRect(QPoint(clip.left, clip.top), QPoint(clip.right - 1, clip.bottom - 1)));
    }

    void clearClip() override { m_painter.setClipping(false); }

    bool allowsColumnCulling() const override { return m_columnCulling && m_solid; }

  private:
    struct Face {
        explicit Face(const ChartFont& font)
            : font(toQFont(font)), metrics(this->font), angle(-font.escapement / 10.0)
        {
        }
        QFont font;
        QFontMetrics metrics;
        double angle; // degrees, clockwise on screen as the painter counts them
    };

    const Face& face(FontRole role) const { return m_fonts[role == FontRole::Vertical ? 1 : 0]; }

    QPainter& m_painter;
    bool m_columnCulling;
    bool m_vector; // a vector picture keeps each series one polyline
    bool m_solid = true;
    Face m_fonts[2];
    QList<QLine> m_segments;
};

} // namespace

TForm1::TForm1(QWidget* parent) : PictureWindow(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Focus, so that the keyboard reaches the popup menu.
    setFocusPolicy(Qt::StrongFocus);
    resize(314, 234);
    buildMenu();
}

TForm1::~TForm1() = default;

void TForm1::buildMenu()
{
    PopupMenu1 = new QMenu(this);
    addPictureItems(PopupMenu1, this);
    PopupMenu1->addSeparator();
    Showpitch1 = PopupMenu1->addAction(QStringLiteral("Show &pitch"));
    QMenu* precisionMenu = PopupMenu1->addMenu(QStringLiteral("P&recision"));
    Precisionx1 = precisionMenu->addAction(QStringLiteral("&x"));
    Precisiony1 = precisionMenu->addAction(QStringLiteral("&y"));
    QMenu* floatingMenu = PopupMenu1->addMenu(QStringLiteral("&Floating"));
    x1 = floatingMenu->addAction(QStringLiteral("&x"));
    y1 = floatingMenu->addAction(QStringLiteral("&y"));
    // Fixed ranges are in the model but not yet offered to the user.
    QMenu* rangeMenu = PopupMenu1->addMenu(QStringLiteral("Plot ran&ge"));
    for (const char* caption : {"x &start", "x &end", "y s&tart", "y e&nd"})
        rangeMenu->addAction(QString::fromLatin1(caption));
    rangeMenu->menuAction()->setEnabled(false);
    Proportional1 = PopupMenu1->addAction(QStringLiteral("Pr&oportional"));
    Backgroundcolor1 = PopupMenu1->addAction(QStringLiteral("&Background colour"));

    // The marks start at the chart defaults; PopupMenu1Popup keeps them in step afterwards.
    for (QAction* toggle : {Showpitch1, x1, y1, Proportional1})
        toggle->setCheckable(true);
    Showpitch1->setChecked(true);
    x1->setChecked(true);
    y1->setChecked(true);

    connect(Showpitch1, &QAction::triggered, this, &TForm1::Showpitch1Click);
    connect(Precisionx1, &QAction::triggered, this, &TForm1::Precisionx1Click);
    connect(Precisiony1, &QAction::triggered, this, &TForm1::Precisiony1Click);
    connect(x1, &QAction::triggered, this, &TForm1::x1Click);
    connect(y1, &QAction::triggered, this, &TForm1::y1Click);
    connect(Proportional1, &QAction::triggered, this, &TForm1::Proportional1Click);
    connect(Backgroundcolor1, &QAction::triggered, this, &TForm1::Backgroundcolor1Click);
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::PopupMenu1Popup);
}

void TForm1::setChart(std::unique_ptr<Chart> chart)
{
    m_chart = std::move(chart);
    update();
}

void TForm1::paintChart(QPainter& painter, const QRect& rect) const
{
    if (!m_chart)
        return;
    PainterCanvas canvas(painter, *m_chart, m_columnCulling);
    m_chart->paint(
        canvas, {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()});
}

void TForm1::paintWindow(QPainter& painter) const
{
    painter.fillRect(rect(), backgroundColour());
    // A lowered one-pixel frame around the client area; pictures of the chart leave it out.
    QRect frame = rect().adjusted(0, 0, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(frame.topLeft(), frame.topRight());
    painter.drawLine(frame.topLeft(), frame.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(frame.bottomLeft(), frame.bottomRight());
    painter.drawLine(frame.topRight(), frame.bottomRight());
    paintChart(painter, rect());
}

void TForm1::paintEvent(QPaintEvent*)
{
    // The hourglass while painting: a long run's series take a while to draw.
    struct WaitCursor {
        WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
        ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    } wait;
    QPainter painter(this);
    paintWindow(painter);
}

QImage TForm1::bitmap() const
{
    if (width() < 3 || height() < 3)
        return {};
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    paintWindow(painter);
    painter.end();
    return image.copy(1, 1, width() - 2, height() - 2);
}

bool TForm1::saveBitmap(const QString& path) const { return writeImageFile(bitmap(), path); }

QByteArray TForm1::svgDocument() const
{
    return drawSvg(size(), [this](QPainter& painter) { paintChart(painter, rect()); });
}

// The toggles run after the action has flipped its own check mark.
void TForm1::Showpitch1Click()
{
    if (m_chart)
        m_chart->showPitch = Showpitch1->isChecked();
    update();
}

void TForm1::x1Click()
{
    if (m_chart)
        m_chart->floatingX = x1->isChecked();
    update();
}

void TForm1::y1Click()
{
    if (m_chart)
        m_chart->floatingY = y1->isChecked();
    update();
}

void TForm1::Proportional1Click()
{
    if (m_chart)
        m_chart->proportional = Proportional1->isChecked();
    update();
}

void TForm1::Precisionx1Click() { inputPrecision(true); }

void TForm1::Precisiony1Click() { inputPrecision(false); }

void TForm1::inputPrecision(bool xAxis)
{
    bool ok = false;
    QString text = QInputDialog::getText(this, QStringLiteral("Input"),
                                         xAxis ? QStringLiteral("Precision of x axis")
                                               : QStringLiteral("Precision of y axis"),
                                         QLineEdit::Normal, QString(), &ok);
    if (!ok || text.isEmpty() || !m_chart)
        return;
    try {
        m_chart->inputPrecision(xAxis, text.toStdString());
    } catch (const Exception& e) {
        QMessageBox::warning(this, QStringLiteral("ZYL"), QString::fromStdString(e.what()));
    }
    update();
}

void TForm1::PopupMenu1Popup()
{
    // Marks follow the flags both ways, so a mark never claims an option that is off.
    if (!m_chart)
        return;
    Showpitch1->setChecked(m_chart->showPitch);
    x1->setChecked(m_chart->floatingX);
    y1->setChecked(m_chart->floatingY);
    Proportional1->setChecked(m_chart->proportional);
}

} // namespace zyl
