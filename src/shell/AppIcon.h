#pragma once

#include <QIcon>
#include <QString>

namespace zyl {

/// Makes the program's icon the application's window icon, so that the main window, the
/// dialogs and every result window show it instead of the toolkit's logo. Call it once a
/// QApplication exists.
void installApplicationIcon();

/// One of the program's own pictures, `name` being its file in src/shell/resources.
QIcon resourceIcon(const QString& name);

} // namespace zyl
