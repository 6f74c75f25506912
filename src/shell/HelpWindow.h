#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

class QTreeWidget;

namespace zyl {

/// Where a window of `size` (its frame included) goes beside `anchor` on the `screen` area:
/// right of it, else left of it, top edges level, and moved as little as needed to stay on
/// the screen (its top left corner first, where the title bar is, when it is too large).
QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen);

/// The list of the names that plots and exports can use: the statistics of a generation and
/// the four remembered individuals. Not modal, so it can stay open beside the Initialise
/// dialog.
class TForm5 : public QWidget {
    Q_OBJECT

public:
    explicit TForm5(QWidget* parent = nullptr);

    /// Shows the window beside `anchor` (the window that asked for it), on its screen; one
    /// already open only comes to the front, where the user may have moved it.
    void showBeside(const QWidget* anchor);

    QTreeWidget* ListView1;
};

} // namespace zyl
