#include "shell/AboutBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QVBoxLayout>

#include <cmath>

namespace zyl {

namespace {

/// A landscape with two valleys and a population settling into the deeper one: the picture
/// is drawn rather than shipped, so the program carries no image files.
QPixmap aboutPicture()
{
    constexpr int size = 72;
    QPixmap picture(size, size);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.drawRect(0, 0, size - 1, size - 1);

    // Heights in [0; 1] over x in [0; 2]: a shallow valley at 0.45 and the deep one at 1.3.
    auto height = [](double x) {
        auto valley = [x](double at, double width) {
            return std::exp(-(x - at) * (x - at) / (width * width));
        };
        return 0.7 - 0.2 * valley(0.45, 0.2) - 0.45 * valley(1.3, 0.18) + 0.04 * std::sin(6 * x);
    };
    QPainterPath curve;
    for (int px = 4; px <= size - 4; ++px) {
        const double x = (px - 4) * 2.0 / (size - 8);
        const QPointF point(px, size * (1.0 - height(x)));
        if (px == 4)
            curve.moveTo(point);
        else
            curve.lineTo(point);
    }
    painter.setPen(QPen(QColor(0, 0, 128), 2));
    painter.drawPath(curve);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 0, 0));
    for (double x : {0.45, 1.22, 1.27, 1.31, 1.36}) {
        const double px = 4 + x * (size - 8) / 2.0;
        painter.drawEllipse(QPointF(px, size * (1.0 - height(x)) - 4), 2.5, 2.5);
    }
    return picture;
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));

    ProgramIcon = new QLabel(this);
    ProgramIcon->setPixmap(aboutPicture());
    ProductName = new QLabel(QStringLiteral("ZYL 0.200"), this);
    QFont bold = ProductName->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.4);
    ProductName->setFont(bold);
    Comments = new QLabel(QStringLiteral("Optimisation with a genetic algorithm"), this);

    auto* texts = new QVBoxLayout;
    texts->addWidget(ProductName);
    texts->addWidget(Comments);
    texts->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(ProgramIcon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace zyl
