#pragma once

#include <QWidget>

class QTreeWidget;

namespace zyl {

/// The list of the names that plots and exports can use: the statistics of a generation and
/// the four remembered individuals. Not modal, so it can stay open beside the Initialise
/// dialog.
class TForm5 : public QWidget {
    Q_OBJECT

public:
    explicit TForm5(QWidget* parent = nullptr);

    QTreeWidget* ListView1;
};

} // namespace zyl
