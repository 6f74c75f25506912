#include "shell/DesktopSettings.h"

#include <QFileInfo>
#include <QMainWindow>

namespace zyl {

namespace {

const QString geometryKey = QStringLiteral("MainWindow/geometry");
const QString stateKey = QStringLiteral("MainWindow/state");
const QString folderKey = QStringLiteral("FileDialogs/lastFolder");
const QString recentKey = QStringLiteral("RecentFiles/files");

// Every change rewrites the whole file and waits for the disk; a program started again and
// again on the same script (a batch of desktop runs) must not pay that for nothing.
void setIfChanged(QSettings& store, const QString& key, const QVariant& value)
{
    if (store.value(key) != value)
        store.setValue(key, value);
}

} // namespace

DesktopSettings::DesktopSettings()
    : m_store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zyl"),
              QStringLiteral("zyl"))
{
}

void DesktopSettings::saveWindow(const QMainWindow& window)
{
    setIfChanged(m_store, geometryKey, window.saveGeometry());
    setIfChanged(m_store, stateKey, window.saveState());
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
        setIfChanged(m_store, folderKey, QFileInfo(fileName).absolutePath());
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
    // A list of one is read back as a text, so the lists are compared as lists.
    const QStringList kept = files.mid(0, maxRecentFiles);
    if (m_store.value(recentKey).toStringList() != kept)
        m_store.setValue(recentKey, kept);
}

} // namespace zyl
