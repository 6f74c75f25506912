// Grabs a picture of the main window during a run of a task, for the documentation:
//   zyl-screenshot SCRIPT GENERATIONS OUTPUT.png
// Runs one generation at a time until GENERATIONS, tiles the windows and saves the picture.
#include "engine/Zyl.h"
#include "shell/AppIcon.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    zyl::installApplicationIcon();
    if (argc != 4) {
        std::fprintf(stderr, "usage: zyl-screenshot SCRIPT GENERATIONS OUTPUT.png\n");
        return 2;
    }
    const int generations = std::atoi(argv[2]);
    zyl::TMainForm form;
    form.resize(1000, 700);
    form.show();
    form.openFile(QString::fromLocal8Bit(argv[1]));
    if (!form.engine()) {
        std::fprintf(stderr, "the script did not load\n");
        return 1;
    }
    QEventLoop loop;
    QObject::connect(&form, &zyl::TMainForm::runFinished, &loop, [&] {
        if (form.engine()->generation < generations && form.Run->isEnabled())
            QTimer::singleShot(0, &form, [&] { form.Run->trigger(); });
        else
            loop.quit();
    });
    if (form.running())
        loop.exec();
    form.WindowTileVertical1->trigger();
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return form.grab().save(QString::fromLocal8Bit(argv[3])) ? 0 : 1;
}
