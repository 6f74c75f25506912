#pragma once

#include "windows/DialogFolder.h"

#include <QSettings>
#include <QString>
#include <QStringList>

class QMainWindow;

namespace zyl {

/// What the desktop program keeps between sessions in the user's settings file (zyl/zyl.ini in
/// the user's configuration folder): the main window's size, position and state, the folder
/// the file dialogs showed last, and the project files opened most recently. Projects never
/// depend on it; each instance reads and writes the one file.
class DesktopSettings : public DialogFolder {
  public:
    static constexpr int maxRecentFiles = 8;

    DesktopSettings();

    /// Stores the window's geometry and the state of its toolbars.
    void saveWindow(const QMainWindow& window);
    /// Gives the window what `saveWindow` stored; false (and the window unchanged) when nothing
    /// was stored yet.
    bool restoreWindow(QMainWindow& window) const;

    /// The folder to start a file dialog in; empty when none was chosen yet.
    QString lastFolder() const override;
    /// Remembers the folder of `fileName`, a file chosen in a file dialog.
    void rememberFolder(const QString& fileName) override;

    /// The recent project files, the latest first, as absolute paths.
    QStringList recentFiles() const;
    /// Puts `fileName` first in the list (once), keeping at most `maxRecentFiles`.
    void addRecentFile(const QString& fileName);
    void removeRecentFile(const QString& fileName);

    /// The underlying store (tests clear it).
    QSettings& store() { return m_store; }

  private:
    void setRecentFiles(const QStringList& files);

    QSettings m_store;
};

} // namespace zyl
