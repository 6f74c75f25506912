#include "shell/AppIcon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

// The resources of a static library are not registered by themselves.
static void registerIconResources()
{
    Q_INIT_RESOURCE(zylicons);
}

namespace zyl {

void installApplicationIcon()
{
    registerIconResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zyl.svg")));
    // Lets a desktop session match our windows with the installed zyl.desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zyl"));
}

} // namespace zyl
