#pragma once

#include <QLabel>
#include <QStringList>

namespace zyl {

/// The status bar's first panel: a label of one fixed width, wide enough for the longest of
/// the texts it is made for, that shortens a longer text with an ellipsis instead of
/// growing, so that the panels beside it stay where they are.
class HintPanel : public QLabel {
    Q_OBJECT

public:
    /// `texts` are what the panel should show whole (at least 150 pixels in any case).
    explicit HintPanel(const QStringList& texts, QWidget* parent = nullptr);

    /// What the panel shows of `text()` in its width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace zyl
