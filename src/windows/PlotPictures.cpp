#include "windows/PlotPictures.h"

#include "windows/ChartWindow.h"
#include "windows/UserChart.h"

#include <QDir>
#include <QFile>

namespace zyl {

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
        const QString png = dir.filePath(name + ".png");
        if (!form.saveBitmap(png))
            failures.push_back("Cannot write the picture to " + png.toStdString());
        const QString svgPath = dir.filePath(name + ".svg");
        QFile svg(svgPath);
        if (!svg.open(QIODevice::WriteOnly) || svg.write(form.svgDocument()) < 0)
            failures.push_back("Cannot write the picture to " + svgPath.toStdString());
    }
    return failures;
}

} // namespace zyl
