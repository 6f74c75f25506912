#include "windows/PlotPictures.h"

#include "common/FileReplace.h"
#include "windows/ChartWindow.h"
#include "windows/UserChart.h"

#include <QBuffer>
#include <QDir>

#include <cmath>
#include <memory>
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

/// The window's chart as DIR/<name>.png and DIR/<name>.svg.
void writePictures(const TForm1& form, const QDir& dir, const QString& name,
                   std::vector<std::string>& failures)
{
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
        writePictures(form, dir, name, failures);
    }
    return failures;
}

std::vector<std::string> writeFrontPictures(const FrontSnapshot& snapshot,
                                            const std::string& directory)
{
    std::vector<std::string> failures;
    const std::size_t m = snapshot.objectiveNames.size();
    if (m < 2)
        return failures;
    const QDir dir(QString::fromStdString(directory));
    if (!dir.exists() && !QDir().mkpath(dir.path())) {
        failures.push_back("Cannot create the folder " + directory);
        return failures;
    }
    // The infeasible first, so that the front is drawn over everything else.
    constexpr ColourValue red = 0x0000FF, grey = 0xA0A0A0, black = 0x000000;
    for (std::size_t a = 0; a < m; ++a)
        for (std::size_t b = a + 1; b < m; ++b) {
            auto chart = std::make_unique<Chart>(snapshot.objectiveNames[a],
                                                 snapshot.objectiveNames[b]);
            PolyLine* groups[3];
            const ColourValue colours[3] = {red, grey, black};
            for (int g = 0; g < 3; ++g) {
                chart->addPen(PenStyle::Solid, colours[g], g == 2 ? 2 : 1);
                groups[g] = &chart->addPolyLine();
            }
            for (const FrontPoint& point : snapshot.points) {
                PolyLine& group = *groups[point.onFront ? 2 : point.violation == 0 ? 1 : 0];
                // A point between gaps is drawn as a cross of its own: a scatter.
                group.append(point.objectives[a], point.objectives[b]);
                group.append(NAN, NAN);
            }
            QString name = QString::fromStdString("Front_" + snapshot.objectiveNames[a] + "_" +
                                                  snapshot.objectiveNames[b]);
            name.replace('/', '_').replace(QChar(0), '_');
            TForm1 form;
            form.resize(640, 480);
            form.setChart(std::move(chart));
            writePictures(form, dir, name, failures);
        }
    return failures;
}

} // namespace zyl
