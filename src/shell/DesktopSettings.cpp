#include "shell/DesktopSettings.h"

#include <QFileInfo>
#include <QMainWindow>

namespace zyl {

namespace {

const QString geometryKey = QStringLiteral("MainWindow/geometry");
const QString stateKey = QStringLiteral("MainWindow/state");
const QString folderKey = QStringLiteral("FileDialogs/lastFolder");
const QString recentKey = QStringLiteral("RecentFiles/files");

} // namespace

DesktopSettings::DesktopSettings()
    : m_store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zyl"),
              QStringLiteral("zyl"))
{
}

void DesktopSettings::saveWindow(const QMainWindow& window)
{
    m_store.setValue(geometryKey, window.saveGeometry());
    m_store.setValue(stateKey, window.saveState());
}

bool DesktopSettings::restoreWindow(QMainWindow& window) const
{
    const QByteArray geometry = m_store.value(geometryKey).toByteArray();
    if (geometry.isEmpty() || !window.restoreGeometry(geometry))
        return false;
    window.restoreState(m_store.value(stateKey).toByteArray());
    return true;
}

QString DesktopSettings::lastFolder() const { return m_store.value(folderKey).toString(); }

void DesktopSettings::rememberFolder(const QString& fileName)
{
    if (!fileName.isEmpty())
        m_store.setValue(folderKey, QFileInfo(fileName).absolutePath());
}

QStringList DesktopSettings::recentFiles() const
{
    QStringList files = m_store.value(recentKey).toStringList();
    // A file edited by hand may hold more, or empty entries.
    files.removeAll(QString());
    files.removeDuplicates();
    while (files.size() > maxRecentFiles)
        files.removeLast();
    return files;
}

void DesktopSettings::addRecentFile(const QString& fileName)
{
    const QString path = QFileInfo(fileName).absoluteFilePath();
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    setRecentFiles(files);
}

void DesktopSettings::removeRecentFile(const QString& fileName)
{
    QStringList files = recentFiles();
    files.removeAll(fileName);
    files.removeAll(QFileInfo(fileName).absoluteFilePath());
    setRecentFiles(files);
}

void DesktopSettings::setRecentFiles(const QStringList& files)
{
    m_store.setValue(recentKey, files.mid(0, maxRecentFiles));
}

} // namespace zyl
