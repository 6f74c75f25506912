#pragma once

#include <QPoint>
#include <QSize>

class QMdiArea;

namespace zyl {

/// The step between two cascaded windows: the height of a window's title bar, so that each
/// title stays readable under the next window.
int cascadeStep(const QMdiArea* area);

/// Where the `index`-th window of a cascade goes in `area`: one step further right and down
/// than the one before, starting again at the top left once a title bar would leave the area.
QPoint cascadePosition(const QMdiArea* area, int index);

/// Lines the minimised windows of `area` up as icons along its bottom edge, left to right,
/// a new row above when a row is full. Windows that are not minimised stay where they are.
/// Returns the height the rows of icons take (0 without a minimised window).
int arrangeIcons(QMdiArea* area);

/// Tiles the windows that are not minimised in one column (each the full width) or in one row
/// (each the full height), above the row of icons that the minimised windows form.
void tileWindows(QMdiArea* area, bool inRows);

} // namespace zyl
