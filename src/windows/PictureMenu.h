#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QPainter;
class QSize;
class QWidget;

namespace zyl {

class DialogFolder;

/// A result window whose picture can be saved and copied: the chart windows, the Pareto window.
class PictureSource {
  public:
    virtual ~PictureSource() = default;
    /// The picture as the screen shows it, on its background; null when the window is too
    /// small to hold one.
    virtual QImage bitmap() const = 0;
    /// The picture drawn afresh as an SVG document, without background.
    virtual QByteArray svgDocument() const = 0;
};

/// The items every picture window's popup menu starts with.
struct PictureItems {
    QAction* saveToFile;
    QAction* bitmap;
    QAction* metafile;
};

/// Adds "Save to file" and "Copy to clipboard as" (with "Bitmap" and "Metafile") to `menu`;
/// the caller connects them.
PictureItems addPictureItems(QMenu* menu);

/// Shows the save dialog (bitmap file, PNG, SVG; the bitmap offered first) in the folder that
/// `folder` remembers, and remembers the folder of the file chosen. Empty when cancelled.
QString choosePictureFile(QWidget* parent, DialogFolder* folder);

/// Writes `image` to `path`: PNG when the name ends in ".png" (any case), otherwise the bitmap
/// file format. False when the picture is null or the file cannot be written.
bool writeImageFile(const QImage& image, const QString& path);

/// Writes the picture to `path` in the type its name ends in: ".svg" (any case) the source's
/// SVG document, replacing the file whole or not at all, otherwise `image` as writeImageFile
/// does. A failure is told in a message box over `parent`.
void savePicture(QWidget* parent, const PictureSource& source, const QImage& image,
                 const QString& path);

/// Save to file: takes the picture, then asks for the file (choosePictureFile) and saves it
/// there (savePicture).
void saveToChosenFile(QWidget* parent, const PictureSource& source, DialogFolder* folder);

/// An SVG document of `size` with `title`, drawn by `paint`.
QByteArray drawSvg(const QSize& size, const QString& title,
                   const std::function<void(QPainter&)>& paint);

/// Puts the bitmap (when there is one) or the SVG document on the clipboard.
void copyBitmap(const PictureSource& source);
void copyMetafile(const PictureSource& source);

/// Opens `menu` for `widget` from the mouse's context-menu click where it was, and from the
/// keyboard (the context-menu key, Shift+F10) over the middle of the widget, wherever the
/// mouse is. The menu and the filter belong to the caller's widget.
void attachPopupMenu(QWidget* widget, QMenu* menu);

} // namespace zyl
