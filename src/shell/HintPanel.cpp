#include "shell/HintPanel.h"

#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace zyl {

HintPanel::HintPanel(const QStringList& texts, QWidget* parent) : QLabel(parent)
{
    int widest = 150;
    for (const QString& text : texts)
        widest = std::max(widest, fontMetrics().horizontalAdvance(text));
    const QMargins margins = contentsMargins();
    // Fixed, not minimum: a label's size hint follows its text, and the status bar would
    // widen the panel to every long hint.
    setFixedWidth(widest + margins.left() + margins.right() + 2 * margin());
}

QString HintPanel::shownText() const
{
    const int room = contentsRect().width() - 2 * margin();
    return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, room));
}

void HintPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), shownText(), foregroundRole());
}

} // namespace zyl
