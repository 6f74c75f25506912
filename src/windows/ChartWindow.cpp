#include "windows/ChartWindow.h"

#include "common/Exception.h"
#include "windows/DialogFolder.h"

#include <QBuffer>
#include <QClipboard>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPaintEngine>
#include <QPainter>
#include <QPolygon>
#include <QSaveFile>
#include <QSvgGenerator>

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

bool writeImage(const QImage& image, const QString& path)
{
    if (image.isNull())
        return false;
    const char* format = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? "PNG" : "BMP";
    return image.save(path, format);
}

} // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), m_background(palette().color(QPalette::Base))
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
    Savetofile1 = PopupMenu1->addAction(QStringLiteral("&Save to file"));
    QMenu* copyMenu = PopupMenu1->addMenu(QStringLiteral("&Copy to clipboard as"));
    Bitmap1 = copyMenu->addAction(QStringLiteral("&Bitmap"));
    Metafile1 = copyMenu->addAction(QStringLiteral("&Metafile"));
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

    connect(Savetofile1, &QAction::triggered, this, &TForm1::Savetofile1Click);
    connect(Bitmap1, &QAction::triggered, this, &TForm1::Bitmap1Click);
    connect(Metafile1, &QAction::triggered, this, &TForm1::Metafile1Click);
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

void TForm1::setBackgroundColour(const QColor& colour)
{
    m_background = colour;
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
    painter.fillRect(rect(), m_background);
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

void TForm1::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the mouse may be anywhere: the menu opens over the window instead.
    if (event->reason() == QContextMenuEvent::Keyboard)
        showPopupMenu();
    else
        PopupMenu1->popup(event->globalPos());
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // The context-menu key and Shift+F10, where the platform does not turn them into a
    // context-menu event of its own.
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        showPopupMenu();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm1::showPopupMenu()
{
    if (!PopupMenu1->isVisible())
        PopupMenu1->popup(mapToGlobal(rect().center()));
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

bool TForm1::saveBitmap(const QString& path) const { return writeImage(bitmap(), path); }

QByteArray TForm1::svgDocument() const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size());
    generator.setViewBox(rect());
    generator.setTitle(windowTitle());
    QPainter painter(&generator);
    paintChart(painter, rect());
    painter.end();
    return buffer.data();
}

void TForm1::Savetofile1Click()
{
    // The picture is taken before the dialog can cover the window.
    QImage image = bitmap();
    QFileDialog dialog(this);
    if (m_folder && !m_folder->lastFolder().isEmpty())
        dialog.setDirectory(m_folder->lastFolder());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The bitmap file comes first, as it always did; PNG and SVG are the pictures that
    // zyl-batch --plots writes.
    struct Type {
        QString filter, suffix;
    };
    const QList<Type> types{{QStringLiteral("Bitmaps (*.bmp)"), QStringLiteral("bmp")},
                            {QStringLiteral("PNG images (*.png)"), QStringLiteral("png")},
                            {QStringLiteral("SVG pictures (*.svg)"), QStringLiteral("svg")}};
    QStringList filters;
    for (const Type& type : types)
        filters << type.filter;
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(types.front().filter);
    dialog.setDefaultSuffix(types.front().suffix);
    // A name typed without a type gets the chosen one before the dialog asks about
    // overwriting, so the question is about the file that will be written.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, types](const QString& f) {
        for (const Type& type : types)
            if (type.filter == f)
                dialog.setDefaultSuffix(type.suffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (m_folder)
        m_folder->rememberFolder(path);
    savePicture(image, path);
}

void TForm1::savePicture(const QImage& image, const QString& path)
{
    bool written = false;
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        // Replaced whole or not at all: a picture that cannot be written keeps the old file.
        QSaveFile file(path);
        const QByteArray svg = svgDocument();
        written = file.open(QIODevice::WriteOnly) && file.write(svg) == svg.size() && file.commit();
    } else {
        written = writeImage(image, path);
    }
    if (!written)
        QMessageBox::warning(this, QStringLiteral("ZYL"),
                             QStringLiteral("Cannot write the picture to %1").arg(path));
}

void TForm1::Bitmap1Click()
{
    QImage image = bitmap();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

void TForm1::Metafile1Click()
{
    // The vector picture that other programs paste here is SVG.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/svg+xml"), svgDocument());
    QGuiApplication::clipboard()->setMimeData(data);
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

void TForm1::Backgroundcolor1Click()
{
    QColor colour = QColorDialog::getColor(m_background, this);
    if (colour.isValid())
        setBackgroundColour(colour);
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
