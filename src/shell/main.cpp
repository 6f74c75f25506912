// zyl: the desktop application.
#include "shell/MainWindow.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (arguments.size() >= 2) {
        QMessageBox::critical(nullptr, QStringLiteral("ZYL"),
                              QStringLiteral("One parameter allowed only!\nAplication terminated."));
        return 0;
    }
    zyl::TMainForm mainForm(arguments);
    mainForm.show();
    return QApplication::exec();
}
