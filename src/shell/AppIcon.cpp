#include "shell/AppIcon.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

// The resources of a static library are not registered by themselves; once is enough.
static void registerIconResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(zylicons);
        return true;
    }();
    (void)registered;
}

namespace zyl {

void installApplicationIcon()
{
    registerIconResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zyl.svg")));
    // Lets a desktop session match our windows with the installed zyl.desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("zyl"));
}

QIcon resourceIcon(const QString& name)
{
    registerIconResources();
    return QIcon(QStringLiteral(":/icons/") + name);
}

} // namespace zyl
