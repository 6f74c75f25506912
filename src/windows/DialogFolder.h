#pragma once

#include <QString>

namespace zyl {

/// The folder a result window's file dialog starts in, and what it learns from the file the
/// user chose. The program's settings belong to the shell; a window sees only this much of
/// them, handed down when it is made.
class DialogFolder {
  public:
    virtual ~DialogFolder() = default;
    /// Empty when no folder was chosen yet.
    virtual QString lastFolder() const = 0;
    /// Remembers the folder of `fileName`, a file chosen in a file dialog.
    virtual void rememberFolder(const QString& fileName) = 0;
};

} // namespace zyl
