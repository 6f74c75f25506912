#pragma once

#include <QDialog>

class QLabel;

namespace zyl {

/// The About box: the program's name and version beside a small picture, and OK.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Comments;
};

} // namespace zyl
