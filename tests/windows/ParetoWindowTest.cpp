#include "windows/ParetoWindow.h"

#include "shell/ShellSupport.h"

#include <QComboBox>
#include <QFile>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace zyl;

namespace {

ParetoPoint design(std::vector<double> objectives, double x1, bool front, double violation = 0)
{
    return {std::move(objectives), {x1, x1 + 1}, violation, front};
}

/// Two designs on the front, one behind it and one infeasible.
ParetoSnapshot fourDesigns()
{
    ParetoSnapshot s;
    s.objectiveNames = {"Mass", "Deflection", "Cost"};
    s.variableNames = {"width", "depth"};
    s.maximised = {false, false, true};
    s.points = {design({1, 4, 7}, 0.5, true), design({4, 1, 8}, 1.5, true),
                design({3, 3, 9}, 2.5, false), design({5, 5, 6}, 3.5, false, 0.25)};
    s.generation = 3;
    return s;
}

QImage render(const TPareto& window, QSize size = {400, 300})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    window.paintPlot(painter, image.rect());
    return image;
}

int pixelsOf(const QImage& image, const QColor& colour, int fromY = 0)
{
    int count = 0;
    for (int y = fromY; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour ? 1 : 0;
    return count;
}

/// The centre of the first square of `colour` below the legend's row, found on the picture.
QPoint markerOf(const QImage& image, const QColor& colour, int fromY)
{
    for (int y = fromY; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour)
                return {x + 1, y + 1};
    return {-1, -1};
}

QStringList listed(const QTreeWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + "=" + list->topLevelItem(i)->text(1);
    return rows;
}

} // namespace

TEST(ParetoWindow, DrawsEachKindOfDesignWhereItsObjectivesPlaceIt)
{
    TPareto window;
    const QImage empty = render(window);
    EXPECT_EQ(pixelsOf(empty, ParetoColours::front), 0) << "no designs yet";

    window.showSnapshot(fourDesigns());
    const QImage image = render(window);
    // The legend's row is at the top; below it each design is one square: 5 x 5 on the
    // front, 3 x 3 otherwise.
    const int below = QFontMetrics(window.PaintBoxPlot->font()).height() + 8;
    EXPECT_EQ(pixelsOf(image, ParetoColours::front, below), 2 * 25);
    EXPECT_EQ(pixelsOf(image, ParetoColours::population, below), 9);
    EXPECT_EQ(pixelsOf(image, ParetoColours::infeasible, below), 9);
    EXPECT_GT(pixelsOf(image, ParetoColours::infeasible), 9) << "and the legend names it";

    // Mass to the right, Deflection upward: (1, 4) is left of and above (4, 1).
    const ParetoPlot plot(window.snapshot(), window.view(), image.rect(), window.PaintBoxPlot->font());
    const QPointF a = plot.position(0), b = plot.position(1), c = plot.position(2);
    EXPECT_LT(a.x(), b.x());
    EXPECT_LT(a.y(), b.y());
    EXPECT_EQ(image.pixelColor(a.toPoint()), ParetoColours::front);
    EXPECT_EQ(image.pixelColor(c.toPoint()), ParetoColours::population);
    EXPECT_EQ(image.pixelColor(plot.position(3).toPoint()), ParetoColours::infeasible);

    // The other way round once the axes are swapped.
    window.ComboBoxX->setCurrentIndex(1);
    window.ComboBoxY->setCurrentIndex(0);
    const ParetoPlot swapped(window.snapshot(), window.view(), image.rect(),
                             window.PaintBoxPlot->font());
    EXPECT_GT(swapped.position(0).x(), swapped.position(1).x());

    // Parallel coordinates: a line per design through its value on each axis.
    window.ComboBoxView->setCurrentIndex(1);
    const QImage parallel = render(window);
    const ParetoPlot lines(window.snapshot(), window.view(), image.rect(),
                           window.PaintBoxPlot->font());
    for (int axis = 0; axis < 3; ++axis) {
        const QPointF p = lines.position(1, axis);
        EXPECT_EQ(parallel.pixelColor(p.toPoint()), ParetoColours::front) << axis;
    }
    EXPECT_LT(lines.position(1, 0).y(), lines.position(0, 0).y()) << "Mass 4 above Mass 1";
}

TEST(ParetoWindow, TheChoiceOfAxesAndViewSurvivesUpdates)
{
    TPareto window;
    window.showSnapshot(fourDesigns());
    EXPECT_EQ(window.ComboBoxX->currentText(), "Mass");
    EXPECT_EQ(window.ComboBoxY->currentText(), "Deflection");
    EXPECT_EQ(window.ComboBoxY->itemText(2), "Cost (max)");
    EXPECT_TRUE(window.ComboBoxView->isEnabled());
    window.ComboBoxX->setCurrentIndex(2);
    window.ComboBoxY->setCurrentIndex(0);

    ParetoSnapshot next = fourDesigns();
    next.points.pop_back();
    next.generation = 4;
    window.showSnapshot(next);
    EXPECT_EQ(window.ComboBoxX->currentIndex(), 2);
    EXPECT_EQ(window.view().xObjective, 2);
    EXPECT_EQ(window.view().yObjective, 0);
    EXPECT_EQ(window.LabelSummary->text(), "Generation 4: 2 on the front of 3, 0 infeasible");
    window.ComboBoxView->setCurrentIndex(1);
    window.showSnapshot(fourDesigns());
    EXPECT_TRUE(window.view().parallel);
    EXPECT_FALSE(window.ComboBoxX->isEnabled());

    // Objectives renamed or dropped: what is still there keeps its place.
    ParetoSnapshot other = fourDesigns();
    other.objectiveNames = {"Cost", "Mass"};
    other.maximised = {true};
    for (ParetoPoint& p : other.points)
        p.objectives.pop_back();
    window.showSnapshot(other);
    EXPECT_FALSE(window.view().parallel) << "two objectives are the scatter";
    EXPECT_FALSE(window.ComboBoxView->isEnabled());
    EXPECT_EQ(window.ComboBoxX->currentText(), "Cost (max)");
    EXPECT_EQ(window.ComboBoxY->currentText(), "Mass");
}

TEST(ParetoWindow, AClickListsTheDesignAndRestingTheMouseShowsItInATip)
{
    TPareto window;
    window.resize(700, 450);
    window.show();
    window.showSnapshot(fourDesigns());
    QApplication::processEvents();
    QWidget* plot = window.PaintBoxPlot;
    const int below = plot->fontMetrics().height() + 8;
    const QPoint behind = markerOf(plot->grab().toImage(), ParetoColours::population, below);
    ASSERT_GE(behind.x(), 0);

    QTest::mouseClick(plot, Qt::LeftButton, {}, behind);
    EXPECT_EQ(window.view().selected, 2);
    EXPECT_EQ(listed(window.ListViewDesign),
              (QStringList{"Mass=3", "Deflection=3", "Cost (max)=9", "Violation=0",
                           "On the front=no", "width=2.5", "depth=3.5"}));
    // A click beside every design keeps the list.
    QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(2, plot->height() - 2));
    EXPECT_EQ(window.view().selected, 2);

    // The population moves on: the design stays marked while it is in it.
    ParetoSnapshot next = fourDesigns();
    std::swap(next.points[0], next.points[2]);
    window.showSnapshot(next);
    EXPECT_EQ(window.view().selected, 0);
    next.points.erase(next.points.begin());
    window.showSnapshot(next);
    EXPECT_EQ(window.view().selected, -1);
    EXPECT_EQ(window.ListViewDesign->topLevelItemCount(), 7) << "the list keeps what was clicked";

    window.showSnapshot(fourDesigns());
    QApplication::processEvents();
    const QPoint infeasible = markerOf(plot->grab().toImage(), ParetoColours::infeasible, below);
    QHelpEvent tip(QEvent::ToolTip, infeasible, plot->mapToGlobal(infeasible));
    QApplication::sendEvent(plot, &tip);
    EXPECT_EQ(QToolTip::text(), "Mass = 5\nDeflection = 5\nCost (max) = 6\nViolation = 0.25\n"
                                "width = 3.5\ndepth = 4.5");
    QToolTip::hideText();
}

TEST(ParetoWindow, PicturesAreSavedAsPngAndSvgFromThePopupMenu)
{
    test::MessageBoxAnswerer boxes;
    TPareto window;
    window.resize(600, 400);
    window.show();
    window.showSnapshot(fourDesigns());
    QApplication::processEvents();
    QStringList captions;
    for (const QAction* a : window.popupMenu()->actions())
        captions << (a->isSeparator() ? QStringLiteral("-") : QString(a->text()).remove('&'));
    EXPECT_EQ(captions, (QStringList{"Save to file", "Copy to clipboard as", "-",
                                     "Background colour"}));
    EXPECT_EQ(test::keyboardGaps(window.popupMenu()), QStringList());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage bitmap = window.bitmap();
    ASSERT_EQ(bitmap.size(), window.PaintBoxPlot->size());
    window.savePicture(bitmap, dir.filePath("front.png"));
    window.savePicture(bitmap, dir.filePath("front.SVG"));
    QFile png(dir.filePath("front.png")), svg(dir.filePath("front.SVG"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    EXPECT_TRUE(png.read(8).startsWith("\x89PNG"));
    EXPECT_EQ(QImage(dir.filePath("front.png")).convertToFormat(bitmap.format()), bitmap);
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray document = svg.readAll();
    EXPECT_TRUE(document.startsWith("<?xml")) << document.left(40).toStdString();
    EXPECT_TRUE(document.contains("Deflection"));
    EXPECT_EQ(document, window.svgDocument());
    EXPECT_TRUE(boxes.shown.empty());

    window.savePicture(bitmap, dir.filePath("missing/front.svg"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "ZYL");
    EXPECT_FALSE(QFile::exists(dir.filePath("missing/front.svg")));
}
