#pragma once

namespace zyl {

/// Makes the program's icon the application's window icon, so that the main window, the
/// dialogs and every result window show it instead of the toolkit's logo. Call it once a
/// QApplication exists.
void installApplicationIcon();

} // namespace zyl
