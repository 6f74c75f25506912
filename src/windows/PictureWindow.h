#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QPainter;

namespace zyl {

class DialogFolder;

/// A result window that draws a picture: a chart window, the Pareto window. It paints on a
/// background colour of its own, and its popup menu saves the picture to a file (bitmap, PNG
/// or SVG) and copies it to the clipboard; this class holds what they share.
class PictureWindow : public QWidget {
  public:
    explicit PictureWindow(QWidget* parent = nullptr);

    /// The picture as the screen shows it, on its background; null when the window is too
    /// small to hold one.
    virtual QImage bitmap() const = 0;
    /// The picture drawn afresh as an SVG document, without background.
    virtual QByteArray svgDocument() const = 0;

    /// Writes the picture to `path` in the type its name ends in: ".svg" (any case) the
    /// document of svgDocument, replacing the file whole or not at all; otherwise `image` as
    /// writeImageFile does. A failure is told in a message box.
    void savePicture(const QImage& image, const QString& path);

    QColor backgroundColour() const { return m_background; }
    void setBackgroundColour(const QColor& colour);

    /// Where Save to file starts its dialog and what it remembers; none by default.
    void setDialogFolder(std::shared_ptr<DialogFolder> folder) { m_folder = std::move(folder); }

    // Popup menu handlers.
    /// Takes the picture, then asks for the file (bitmap file offered first, PNG, SVG).
    void Savetofile1Click();
    void Bitmap1Click();
    void Metafile1Click();
    void Backgroundcolor1Click();

  protected:
    /// Adds "Save to file" and "Copy to clipboard as" (with "Bitmap" and "Metafile") to
    /// `menu`, connected to their handlers, and has the menu open over `target` from the
    /// mouse where it was clicked and from the keyboard (the context-menu key, Shift+F10) over
    /// its middle, wherever the mouse is.
    void addPictureItems(QMenu* menu, QWidget* target);

    /// An SVG document of `size` titled as the window, drawn by `paint`.
    QByteArray drawSvg(const QSize& size, const std::function<void(QPainter&)>& paint) const;

    QAction* Savetofile1 = nullptr;
    QAction* Bitmap1 = nullptr;
    QAction* Metafile1 = nullptr;

  private:
    QColor m_background;
    std::shared_ptr<DialogFolder> m_folder;
};

/// Writes `image` to `path`: PNG when the name ends in ".png" (any case), otherwise the bitmap
/// file format. False when the picture is null or the file cannot be written.
bool writeImageFile(const QImage& image, const QString& path);

} // namespace zyl
