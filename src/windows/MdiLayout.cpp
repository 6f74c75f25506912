#include "windows/MdiLayout.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyle>

#include <algorithm>

namespace zyl {

namespace {

QSize iconSize(const QMdiSubWindow* window)
{
    // A minimised window is its title bar; its size is the style's, whatever it was before.
    return window->minimumSizeHint().expandedTo(QSize(1, 1));
}

} // namespace

int cascadeStep(const QMdiArea* area)
{
    const int titleBar = area->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, area);
    return std::max(titleBar, 8);
}

QPoint cascadePosition(const QMdiArea* area, int index)
{
    const int step = cascadeStep(area);
    const QSize room = area->viewport()->size();
    // A window may be larger than the area; what must stay inside is its title bar.
    const int places = std::max(1, std::min(room.width(), room.height()) / step - 1);
    const int offset = (std::max(0, index) % places) * step;
    return {offset, offset};
}

int arrangeIcons(QMdiArea* area)
{
    const QSize room = area->viewport()->size();
    int x = 0;
    int rowBottom = room.height();
    int rowHeight = 0;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder)) {
        if (!window->isMinimized())
            continue;
        const QSize size = iconSize(window);
        if (x > 0 && x + size.width() > room.width()) {
            x = 0;
            rowBottom -= rowHeight;
            rowHeight = 0;
        }
        window->move(x, rowBottom - size.height());
        x += size.width();
        rowHeight = std::max(rowHeight, size.height());
    }
    return room.height() - rowBottom + rowHeight;
}

void tileWindows(QMdiArea* area, bool inRows)
{
    // The icons first: the tiles share what their rows leave, so that no icon is hidden
    // behind a tile.
    const int icons = arrangeIcons(area);
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : area->subWindowList(QMdiArea::CreationOrder))
        if (!window->isMinimized())
            windows << window;
    if (windows.isEmpty())
        return;
    const QSize room(area->viewport()->width(),
                     std::max(1, area->viewport()->height() - icons));
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        QMdiSubWindow* window = windows[i];
        if (window->isMaximized())
            window->showNormal();
        // The last one takes what the division leaves over, so the tiles fill the area.
        if (inRows) {
            const int height = room.height() / count;
            const int last = i == count - 1 ? room.height() - height * (count - 1) : height;
            window->setGeometry(0, i * height, room.width(), last);
        } else {
            const int width = room.width() / count;
            const int last = i == count - 1 ? room.width() - width * (count - 1) : width;
            window->setGeometry(i * width, 0, last, room.height());
        }
    }
}

} // namespace zyl
