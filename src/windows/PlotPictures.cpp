#include "windows/PlotPictures.h"

#include "common/FileReplace.h"
#include "windows/ChartWindow.h"
#include "windows/UserChart.h"

#include <QBuffer>
#include <QDir>

#include <optional>

namespace zyl {

namespace {

// A picture goes to a file beside its place and is renamed over it, so that one that cannot
// be written whole (a full disk) leaves an earlier picture of the same name as it was.
void writePicture(const QString& path, const QByteArray& bytes, std::vector<std::string>& failures)
{
    const std::string name = path.toStdString();
    std::optional<std::string> reason;
    if (bytes.isEmpty())
        reason = "the picture could not be drawn";
    else
        reason = replaceFileContent(name, bytes.toStdString());
    if (reason)
        failures.push_back("Cannot write the picture to " + name + ": " + *reason);
}

} // namespace

std::vector<std::string> writePlotPictures(const std::vector<UserPlot>& plots,
                                           const std::string& directory)
{
    std::vector<std::string> failures;
    const QDir dir(QString::fromStdString(directory));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        failures.push_back("Cannot create the folder " + directory);
        return failures;
    }
    for (const UserPlot& plot : plots) {
        QString name = QString::fromStdString(plot.title);
        name.replace('/', '_').replace(QChar(0), '_');
        if (name.isEmpty() || name == "." || name == "..")
            name = "_" + name;
        TForm1 form;
        form.resize(640, 480);
        UserChart chart(plot, &form);
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            if (!form.bitmap().save(&buffer, "PNG"))
                png.clear();
        }
        writePicture(dir.filePath(name + ".png"), png, failures);
        writePicture(dir.filePath(name + ".svg"), form.svgDocument(), failures);
    }
    return failures;
}

} // namespace zyl
