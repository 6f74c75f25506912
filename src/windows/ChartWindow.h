#pragma once

#include "windows/ChartModel.h"
#include "windows/PictureWindow.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QWidget>

#include <memory>

class QAction;
class QMenu;
class QPainter;

namespace zyl {

/// A chart window: paints its `Chart` (none until a user plot attaches one) on a background
/// of the window's colour, and offers the popup menu that saves or copies the picture and
/// switches the drawing options. Works as a top-level widget or inside an MDI area.
class TForm1 : public PictureWindow {
    Q_OBJECT

  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    /// Attaches (or with null detaches) the chart; the window owns it and repaints.
    void setChart(std::unique_ptr<Chart> chart);
    Chart* chart() const { return m_chart.get(); }

    /// Whether series may be reduced to a few points per pixel column while painting; the
    /// picture is the same either way, so this exists for comparisons and measurements.
    void setColumnCulling(bool on) { m_columnCulling = on; }

    /// Paints the chart (no background) into `rect` of any painter: screen, image or SVG.
    void paintChart(QPainter& painter, const QRect& rect) const;

    /// The window's picture less its one-pixel frame: (width - 2) x (height - 2). Null when
    /// the window is smaller than 3 x 3 pixels.
    QImage bitmap() const override;
    /// Writes `bitmap()` to `path`: PNG when the name ends in ".png" (any case), otherwise the
    /// bitmap file format. Returns false when the picture or the file cannot be written.
    bool saveBitmap(const QString& path) const;
    /// The chart painted afresh as an SVG document of the window's size, without background.
    QByteArray svgDocument() const override;

    QMenu* popupMenu() const { return PopupMenu1; }
    QSize sizeHint() const override { return {314, 234}; }

    // Popup menu handlers (the picture's own are PictureWindow's).
    void Showpitch1Click();
    void Precisionx1Click();
    void Precisiony1Click();
    void x1Click();
    void y1Click();
    void Proportional1Click();
    /// Sets the check marks of the option items from the chart's flags before the menu shows.
    void PopupMenu1Popup();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void buildMenu();
    void inputPrecision(bool xAxis);
    void paintWindow(QPainter& painter) const;

    std::unique_ptr<Chart> m_chart;
    bool m_columnCulling = true;

    QMenu* PopupMenu1 = nullptr;
    QAction* Showpitch1 = nullptr;
    QAction* Precisionx1 = nullptr;
    QAction* Precisiony1 = nullptr;
    QAction* x1 = nullptr;
    QAction* y1 = nullptr;
    QAction* Proportional1 = nullptr;
    QAction* Backgroundcolor1 = nullptr;
};

} // namespace zyl
