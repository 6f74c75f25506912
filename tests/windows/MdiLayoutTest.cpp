#include "windows/MdiLayout.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRegion>
#include <QWidget>

#include <gtest/gtest.h>

using namespace zyl;

namespace {

/// An area with `count` windows, shown at a fixed size.
struct Area {
    explicit Area(int count)
    {
        area.resize(600, 400);
        for (int i = 0; i < count; ++i) {
            QMdiSubWindow* frame = area.addSubWindow(new QWidget);
            frame->setWindowTitle(QStringLiteral("W%1").arg(i));
            frames << frame;
        }
        area.show();
    }

    QMdiArea area;
    QList<QMdiSubWindow*> frames;
};

} // namespace

TEST(MdiLayout, TilesFillTheAreaAboveTheIconsOfMinimisedWindows)
{
    for (bool inRows : {true, false}) {
        Area a(5);
        a.frames[1]->showMinimized();
        a.frames[3]->showMinimized();
        tileWindows(&a.area, inRows);
        const QRect room = a.area.viewport()->rect();
        const int iconTop = std::min(a.frames[1]->y(), a.frames[3]->y());
        EXPECT_EQ(std::max(a.frames[1]->geometry().bottom(), a.frames[3]->geometry().bottom()),
                  room.bottom())
            << "the icons line the bottom edge";
        QRegion tiled;
        for (int i : {0, 2, 4}) {
            const QRect tile = a.frames[i]->geometry();
            for (int icon : {1, 3})
                EXPECT_FALSE(tile.intersects(a.frames[icon]->geometry())) << inRows << i << icon;
            EXPECT_FALSE(tiled.intersects(tile)) << "tiles do not overlap";
            tiled += tile;
        }
        EXPECT_EQ(tiled, QRegion(QRect(0, 0, room.width(), iconTop))) << inRows;
    }
    // Without icons the tiles take the whole area.
    Area full(3);
    tileWindows(&full.area, false);
    QRegion tiled;
    for (QMdiSubWindow* frame : full.frames)
        tiled += frame->geometry();
    EXPECT_EQ(tiled, QRegion(full.area.viewport()->rect()));
}
