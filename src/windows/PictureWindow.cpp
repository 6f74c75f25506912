#include "windows/PictureWindow.h"

#include "windows/DialogFolder.h"

#include <QBuffer>
#include <QClipboard>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace zyl {

namespace {

/// Opens a window's popup menu from the mouse and from the keyboard.
class PopupMenuOpener : public QObject {
  public:
    PopupMenuOpener(QWidget* widget, QMenu* menu) : QObject(widget), m_widget(widget), m_menu(menu)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget)
            return false;
        if (event->type() == QEvent::ContextMenu) {
            // From the keyboard the mouse may be anywhere: the menu opens over the window.
            auto* context = static_cast<QContextMenuEvent*>(event);
            if (context->reason() == QContextMenuEvent::Keyboard)
                openOverWidget();
            else
                m_menu->popup(context->globalPos());
            return true;
        }
        // The context-menu key and Shift+F10, where the platform does not turn them into a
        // context-menu event of its own.
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Menu ||
                (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
                openOverWidget();
                return true;
            }
        }
        return false;
    }

  private:
    void openOverWidget()
    {
        if (!m_menu->isVisible())
            m_menu->popup(m_widget->mapToGlobal(m_widget->rect().center()));
    }

    QWidget* m_widget;
    QMenu* m_menu;
};

/// The save dialog in the folder that `folder` remembers; remembers the folder of the file
/// chosen. Empty when cancelled.
QString choosePictureFile(QWidget* parent, DialogFolder* folder)
{
    QFileDialog dialog(parent);
    if (folder && !folder->lastFolder().isEmpty())
        dialog.setDirectory(folder->lastFolder());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The bitmap file comes first, as it always did; PNG and SVG are the pictures that
    // zyl-batch --plots writes.
    struct Type {
        QString filter, suffix;
    };
    const QList<Type> types{{QStringLiteral("Bitmaps (*.bmp)"), QStringLiteral("bmp")},
                            {QStringLiteral("PNG images (*.png)"), QStringLiteral("png")},
                            {QStringLiteral("SVG pictures (*.svg)"), QStringLiteral("svg")}};
    QStringList filters;
    for (const Type& type : types)
        filters << type.filter;
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(types.front().filter);
    dialog.setDefaultSuffix(types.front().suffix);
    // A name typed without a type gets the chosen one before the dialog asks about
    // overwriting, so the question is about the file that will be written.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, types](const QString& f) {
                         for (const Type& type : types)
                             if (type.filter == f)
                                 dialog.setDefaultSuffix(type.suffix);
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    if (folder)
        folder->rememberFolder(path);
    return path;
}

} // namespace

PictureWindow::PictureWindow(QWidget* parent)
    : QWidget(parent), m_background(palette().color(QPalette::Base))
{
}

void PictureWindow::addPictureItems(QMenu* menu, QWidget* target)
{
    Savetofile1 = menu->addAction(QStringLiteral("&Save to file"));
    QMenu* copyMenu = menu->addMenu(QStringLiteral("&Copy to clipboard as"));
    Bitmap1 = copyMenu->addAction(QStringLiteral("&Bitmap"));
    Metafile1 = copyMenu->addAction(QStringLiteral("&Metafile"));
    connect(Savetofile1, &QAction::triggered, this, &PictureWindow::Savetofile1Click);
    connect(Bitmap1, &QAction::triggered, this, &PictureWindow::Bitmap1Click);
    connect(Metafile1, &QAction::triggered, this, &PictureWindow::Metafile1Click);
    target->installEventFilter(new PopupMenuOpener(target, menu));
}

void PictureWindow::setBackgroundColour(const QColor& colour)
{
    m_background = colour;
    update();
}

void PictureWindow::Savetofile1Click()
{
    // The picture is taken before the dialog can cover the window.
    const QImage image = bitmap();
    const QString path = choosePictureFile(this, m_folder.get());
    if (!path.isEmpty())
        savePicture(image, path);
}

void PictureWindow::savePicture(const QImage& image, const QString& path)
{
    bool written = false;
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        // Replaced whole or not at all: a picture that cannot be written keeps the old file.
        QSaveFile file(path);
        const QByteArray svg = svgDocument();
        written = file.open(QIODevice::WriteOnly) && file.write(svg) == svg.size() && file.commit();
    } else {
        written = writeImageFile(image, path);
    }
    if (!written)
        QMessageBox::warning(this, QStringLiteral("ZYL"),
                             QStringLiteral("Cannot write the picture to %1").arg(path));
}

void PictureWindow::Bitmap1Click()
{
    const QImage image = bitmap();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

void PictureWindow::Metafile1Click()
{
    // The vector picture that other programs paste here is SVG.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/svg+xml"), svgDocument());
    QGuiApplication::clipboard()->setMimeData(data);
}

void PictureWindow::Backgroundcolor1Click()
{
    const QColor colour = QColorDialog::getColor(m_background, this);
    if (colour.isValid())
        setBackgroundColour(colour);
}

QByteArray PictureWindow::drawSvg(const QSize& size,
                                  const std::function<void(QPainter&)>& paint) const
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(windowTitle());
    QPainter painter(&generator);
    paint(painter);
    painter.end();
    return buffer.data();
}

bool writeImageFile(const QImage& image, const QString& path)
{
    if (image.isNull())
        return false;
    const char* format = path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? "PNG" : "BMP";
    return image.save(path, format);
}

} // namespace zyl
