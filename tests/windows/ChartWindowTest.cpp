#include "windows/ChartWindow.h"
#include "windows/DialogFolder.h"

#include "shell/ShellSupport.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QInputDialog>
#include <QKeyEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace zyl;

namespace {

constexpr ColourValue palette[] = {0x000000, 0x0000FF, 0xFF0000, 0x008000, 0x800080};

/// A chart window as a user plot sets it up, with `count` points per series.
std::unique_ptr<TForm1> plotWindow(int seriesCount, int count, unsigned seed = 1)
{
    auto window = std::make_unique<TForm1>();
    auto chart = std::make_unique<Chart>("Population", "Value");
    chart->floatingX = false;
    std::mt19937 gen(seed);
    std::normal_distribution<double> noise(0, 1);
    for (int s = 0; s < seriesCount; ++s) {
        chart->addPen(PenStyle::Solid, palette[s % 5], 1);
        PolyLine& series = chart->addPolyLine();
        for (int g = 1; g <= count; ++g)
            series.append(g, 10.0 * (s + 1) / g + noise(gen));
    }
    window->setChart(std::move(chart));
    return window;
}

QImage render(const TForm1& window)
{
    QImage image(window.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    window.paintChart(painter, image.rect());
    return image;
}

bool hasColour(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                return true;
    return false;
}

QStringList captions(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : QString(a->text()).remove('&'));
    return out;
}

QAction* item(const QMenu* menu, const QString& path)
{
    QAction* found = nullptr;
    for (const QString& caption : path.split('/')) {
        found = nullptr;
        for (QAction* a : menu->actions())
            if (QString(a->text()).remove('&') == caption)
                found = a;
        if (!found)
            return nullptr;
        menu = found->menu();
    }
    return found;
}

} // namespace

TEST(ChartWindow, PaintsAnyDataWithoutFailing)
{
    TForm1 window;
    QImage blank(window.size(), QImage::Format_RGB32);
    blank.fill(Qt::white);
    EXPECT_EQ(render(window), blank) << "no chart attached";

    auto single = plotWindow(2, 1);
    const QImage one = render(*single);
    EXPECT_TRUE(hasColour(one, qRgb(0x88, 0x88, 0x88))) << "one point: the grid";
    EXPECT_TRUE(hasColour(one, qRgb(255, 0, 0))) << "and the point of each series";

    auto twoPoints = plotWindow(2, 2);
    QImage drawn = render(*twoPoints);
    EXPECT_TRUE(hasColour(drawn, qRgb(255, 0, 0))) << "the second series is red";
    EXPECT_TRUE(hasColour(drawn, qRgb(0x88, 0x88, 0x88))) << "grey dotted grid";

    auto odd = std::make_unique<Chart>("x", "y");
    PolyLine& series = odd->addPolyLine();
    const double inf = INFINITY;
    for (double v : {std::nan(""), 1.0, inf, -inf, 3.4e38, -3.4e38, 1e300, 2.0, std::nan("")})
        series.append(v, v);
    window.setChart(std::move(odd));
    render(window);
    window.resize(2, 2);
    EXPECT_EQ(render(window).size(), QSize(2, 2));
    EXPECT_TRUE(window.bitmap().isNull());
}

TEST(ChartWindow, ColumnCullingLeavesThePictureUnchanged)
{
    auto window = plotWindow(5, 4000, 7);
    for (QSize size : {QSize(314, 234), QSize(900, 500)}) {
        window->resize(size);
        window->setColumnCulling(false);
        QImage exact = render(*window);
        window->setColumnCulling(true);
        EXPECT_EQ(render(*window), exact) << size.width();
    }
}

TEST(ChartWindow, PicturesForFilesAndClipboard)
{
    auto window = plotWindow(2, 50);
    window->setWindowTitle(QStringLiteral("Convergence"));
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    for (const char* name : {"chart.bmp", "chart.PNG", "chart"}) {
        QString path = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(window->saveBitmap(path)) << name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray head = file.read(8);
        bool png = QString::fromLatin1(name).endsWith(QLatin1String(".PNG"));
        EXPECT_TRUE(head.startsWith(png ? "\x89PNG" : "BM")) << name;
        QImage back(path, png ? "PNG" : "BMP");
        EXPECT_EQ(back.size(), QSize(312, 232)) << "the window less its frame";
        EXPECT_EQ(back, window->bitmap().convertToFormat(back.format()));
    }
    EXPECT_FALSE(window->saveBitmap(dir.filePath(QStringLiteral("missing/dir/chart.bmp"))));

    QByteArray svg = window->svgDocument();
    ASSERT_FALSE(svg.isEmpty());
    QXmlStreamReader xml(svg);
    int polylines = 0;
    QString root;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            if (root.isEmpty())
                root = xml.name().toString();
            if (xml.name() == QLatin1String("polyline"))
                ++polylines;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(root, QStringLiteral("svg"));
    EXPECT_GE(polylines, 2) << "one per series at least";
    EXPECT_TRUE(svg.contains("Population"));
}

namespace {

/// The settings a shell would hand the window, kept in memory.
struct FolderMemory : DialogFolder {
    QString lastFolder() const override { return folder; }
    void rememberFolder(const QString& fileName) override { chosen << fileName; }
    QString folder;
    QStringList chosen;
};

} // namespace

TEST(ChartWindow, SaveToFileOffersBitmapPngAndSvg)
{
    auto window = plotWindow(2, 30);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto folder = std::make_shared<FolderMemory>();
    folder->folder = dir.path();
    window->setDialogFolder(folder);

    // Each answer: the filter the user picks (empty: the one offered) and the name typed.
    struct Answer {
        QString filter, name;
    };
    QList<Answer> answers{{{}, "plain"},
                          {{}, "typed.svg"},
                          {"SVG pictures (*.svg)", "chosen"},
                          {"PNG images (*.png)", "chosen"}};
    QStringList offered;
    QString shownFolder, firstFilter;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || answers.isEmpty())
            return;
        const Answer a = answers.takeFirst();
        offered = dialog->nameFilters();
        firstFilter = dialog->selectedNameFilter();
        shownFolder = dialog->directory().absolutePath();
        if (!a.filter.isEmpty()) {
            dialog->selectNameFilter(a.filter);
            emit dialog->filterSelected(a.filter); // as the dialog tells of the user's choice
        }
        dialog->selectFile(a.name);
        static_cast<QDialog*>(dialog)->accept();
    });
    answer.start(5);
    for (int i = 0; i < 4; ++i)
        window->Savetofile1Click();
    EXPECT_EQ(offered, (QStringList{"Bitmaps (*.bmp)", "PNG images (*.png)",
                                    "SVG pictures (*.svg)"}));
    EXPECT_EQ(firstFilter, offered.value(0));
    EXPECT_EQ(shownFolder, dir.path());
    ASSERT_EQ(folder->chosen.size(), 4);
    EXPECT_EQ(folder->chosen[2], dir.filePath("chosen.svg"));

    auto content = [&](const QString& name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_TRUE(content("plain.bmp").startsWith("BM"));
    EXPECT_EQ(QImage(dir.filePath("plain.bmp")), window->bitmap().convertToFormat(
                                                      QImage(dir.filePath("plain.bmp")).format()));
    for (const char* svg : {"typed.svg", "chosen.svg"})
        EXPECT_EQ(content(svg), window->svgDocument()) << svg;
    EXPECT_TRUE(content("chosen.png").startsWith("\x89PNG"));
}

TEST(ChartWindow, PopupMenuItemsAndOptions)
{
    auto window = plotWindow(1, 10);
    const QMenu* menu = window->popupMenu();
    EXPECT_EQ(captions(menu),
              (QStringList{"Save to file", "Copy to clipboard as", "-", "Show pitch", "Precision",
                           "Floating", "Plot range", "Proportional", "Background colour"}));
    EXPECT_EQ(captions(item(menu, "Copy to clipboard as")->menu()),
              (QStringList{"Bitmap", "Metafile"}));
    EXPECT_EQ(captions(item(menu, "Precision")->menu()), (QStringList{"x", "y"}));
    EXPECT_EQ(captions(item(menu, "Floating")->menu()), (QStringList{"x", "y"}));
    QAction* range = item(menu, "Plot range");
    EXPECT_FALSE(range->isEnabled());
    EXPECT_EQ(captions(range->menu()), (QStringList{"x start", "x end", "y start", "y end"}));
    EXPECT_EQ(test::keyboardGaps(menu), QStringList());

    // The marks follow the chart when the menu opens, the chart follows the marks when clicked.
    window->PopupMenu1Popup();
    QAction* floatingX = item(menu, "Floating/x");
    EXPECT_FALSE(floatingX->isChecked()) << "a user plot's x axis is whole numbers";
    EXPECT_TRUE(item(menu, "Floating/y")->isChecked());
    EXPECT_TRUE(item(menu, "Show pitch")->isChecked());
    EXPECT_FALSE(item(menu, "Proportional")->isChecked());
    floatingX->trigger();
    EXPECT_TRUE(window->chart()->floatingX);
    item(menu, "Show pitch")->trigger();
    EXPECT_FALSE(window->chart()->showPitch);
    item(menu, "Proportional")->trigger();
    EXPECT_TRUE(window->chart()->proportional);

    TForm1 empty;
    QAction* pitch = item(empty.popupMenu(), "Show pitch");
    pitch->trigger();
    EXPECT_FALSE(pitch->isChecked()) << "without a chart only the mark changes";
}

namespace {

/// An item that notes the cursor the application shows while it is drawn.
class CursorProbe : public Line {
  public:
    CursorProbe() : Line(0, 0, 1, 1) {}
    void draw(ChartCanvas&, const PixelRect&, float, float, float, float) const override
    {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shape = cursor ? cursor->shape() : Qt::ArrowCursor;
        ++draws;
    }
    mutable Qt::CursorShape shape = Qt::ArrowCursor;
    mutable int draws = 0;
};

} // namespace

TEST(ChartWindow, TheHourglassShowsWhileThePaintLasts)
{
    TForm1 window;
    auto chart = std::make_unique<Chart>("x", "y");
    auto probe = std::make_unique<CursorProbe>();
    const CursorProbe* seen = probe.get();
    chart->items.pushBack(std::move(probe));
    window.setChart(std::move(chart));
    window.grab();
    ASSERT_GT(seen->draws, 0);
    EXPECT_EQ(seen->shape, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ChartWindow, BoxesAreCaptionedZylAndThePopupMenuOpensFromTheKeyboard)
{
    test::MessageBoxAnswerer boxes;
    auto window = plotWindow(1, 10);
    // The precision input answered with text that is no number.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            input->setTextValue("abc");
            input->accept();
        }
    });
    answer.start(5);
    window->Precisionx1Click();
    QTemporaryDir dir;
    window->savePicture(window->bitmap(), dir.filePath("missing/folder/chart.bmp"));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].caption, "ZYL");
    EXPECT_EQ(boxes.shown[0].text, "'abc' is not a valid integer value");
    EXPECT_EQ(boxes.shown[1].caption, "ZYL");

    window->show();
    QMenu* menu = window->popupMenu();
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}) {
        QKeyEvent press(QEvent::KeyPress, key[0].key(), key[0].keyboardModifiers());
        QApplication::sendEvent(window.get(), &press);
        EXPECT_TRUE(menu->isVisible()) << key.toString().toStdString();
        menu->hide();
    }
    // The platform's own keyboard event opens it over the window, wherever the mouse is.
    QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(-500, -500),
                                   QPoint(-500, -500));
    QApplication::sendEvent(window.get(), &fromKeyboard);
    ASSERT_TRUE(menu->isVisible());
    EXPECT_TRUE(window->frameGeometry().contains(menu->pos()));
    menu->hide();
}
