// The main window's commands: the actions with their captions, hints and shortcuts, the menus
// and the toolbar, the Window menu's list and the recent files.
#include "shell/MainWindow.h"

#include "shell/AppIcon.h"
#include "shell/DesktopSettings.h"
#include "windows/MdiLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>

namespace zyl {

void TMainForm::createActions()
{
    auto make = [this](const QString& caption, const QString& tip, const QString& status,
                       const QKeySequence& shortcut, bool enabled, void (TMainForm::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setToolTip(tip);
        action->setStatusTip(status);
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        action->setEnabled(enabled);
        if (handler)
            connect(action, &QAction::triggered, this, [this, action, handler] {
                // A disabled command does nothing, also when another handler triggers it.
                if (action->isEnabled())
                    (this->*handler)();
            });
        return action;
    };
    New = make("New...", "New", "Creatre a new project", QKeySequence("Ctrl+N"), true,
               &TMainForm::NewExecute);
    Open = make("Open...", "Open", "Open a project", QKeySequence("Ctrl+O"), true,
                &TMainForm::OpenExecute);
    Watch = make("&Watch run store...", "Watch run store",
                 "Follow a run store as it is written", {}, true,
                 &TMainForm::WatchExecute);
    TakeOver = make("Ta&ke over the run", "Take over the run",
                    "Continue a watched run that stopped", {}, false,
                    &TMainForm::TakeOverExecute);
    // No shortcut: a stray key would close every window of the project.
    Closeall = make("&Close all", "Close the project", "Close the project", {}, false,
                    &TMainForm::CloseallExecute);
    Save = make("Save", "Save", "Save the project", QKeySequence("Ctrl+S"), false,
                &TMainForm::SaveExecute);
    Saveas = make("Save &as...", "Save as", "Save the project with a different name",
                  QKeySequence("Ctrl+Shift+S"), false, &TMainForm::SaveasExecute);
    Run = make("&Run", "Run", "Run optimisation process", QKeySequence("Ctrl+R"), false,
               &TMainForm::RunExecute);
    Terminate = make("Terminate", "Terminate", "Terminate optimisation process",
                     QKeySequence("Ctrl+T"), false, &TMainForm::TerminateExecute);
    Options = make("&Options...", "Options", "Set options", QKeySequence("Ctrl+P"), false,
                   &TMainForm::OptionsExecute);
    // The console stays with the project, so that what a run wrote there (why a program
    // failed) can be read.
    ShowConsole = make("&I/O console...", "I/O console", "Show the expression console", {}, false,
                       &TMainForm::ShowConsoleExecute);
    About = make("A&bout...", "Display informations", "Display informations", {}, true,
                 &TMainForm::AboutExecute);
    Exit = make("Exit", "Exit application", "Exit application", QKeySequence("Alt+F4"), true,
                nullptr);
    connect(Exit, &QAction::triggered, this, [this] { close(); });
    CommandLine = make("CommandLine", "", "", {}, true, &TMainForm::CommandLineExecute);
    WindowCascade1 = make("&Cascade", "Cascade", "Cascade", {}, true, nullptr);
    connect(WindowCascade1, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    WindowTileHorizontal1 =
        make("Tile &Horizontally", "Tile Horizontally", "Tile Horizontally", {}, true, nullptr);
    connect(WindowTileHorizontal1, &QAction::triggered, this,
            [this] { tileWindows(m_mdi, /*inRows=*/true); });
    WindowTileVertical1 =
        make("Tile &Vertically", "Tile Vertically", "Tile Vertically", {}, true, nullptr);
    connect(WindowTileVertical1, &QAction::triggered, this,
            [this] { tileWindows(m_mdi, /*inRows=*/false); });
    WindowMinimizeAll1 = make("&Minimize All", "Minimize All", "Minimize All", {}, true, nullptr);
    connect(WindowMinimizeAll1, &QAction::triggered, this, [this] {
        for (QMdiSubWindow* w : m_mdi->subWindowList())
            w->showMinimized();
    });
    WindowArrangeAll1 = make("&Arrange All", "Arrange All", "Arrange All", {}, true, nullptr);
    connect(WindowArrangeAll1, &QAction::triggered, this, [this] { arrangeIcons(m_mdi); });

    // Pictures for the toolbar, so that all its commands fit the window at its first size; the
    // theme's where the desktop has one, else the style's own.
    auto icon = [this](const char* themeName, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(themeName), style()->standardIcon(fallback));
    };
    New->setIcon(icon("document-new", QStyle::SP_FileIcon));
    Open->setIcon(icon("document-open", QStyle::SP_DialogOpenButton));
    Save->setIcon(icon("document-save", QStyle::SP_DialogSaveButton));
    const QStyle* look = style();
    WindowCascade1->setIcon(look->standardIcon(QStyle::SP_TitleBarNormalButton));
    // Drawn for the purpose: the style has no tiling pictures, and its overflow arrows would
    // look like the toolbar's own overflow button.
    WindowTileHorizontal1->setIcon(resourceIcon(QStringLiteral("tile-horizontal.svg")));
    WindowTileVertical1->setIcon(resourceIcon(QStringLiteral("tile-vertical.svg")));
    Run->setIcon(icon("media-playback-start", QStyle::SP_MediaPlay));
    Terminate->setIcon(icon("media-playback-stop", QStyle::SP_MediaStop));
    Options->setIcon(icon("preferences-system", QStyle::SP_FileDialogDetailedView));
}

void TMainForm::createMenusAndToolbar()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->menuAction()->setStatusTip(QStringLiteral("File related commands"));
    file->addActions({New, Open, Watch});
    m_recentMenu = file->addMenu(QStringLiteral("Recent &files"));
    file->addActions({Closeall, Save, Saveas});
    file->addSeparator();
    file->addActions({Run, Terminate, Options, TakeOver, ShowConsole});
    file->addSeparator();
    file->addAction(About);
    file->addSeparator();
    file->addAction(Exit);
    m_windowMenu = menuBar()->addMenu(QStringLiteral("&Window"));
    m_windowMenu->menuAction()->setStatusTip(QStringLiteral("Window related commands"));
    m_windowMenu->addActions({WindowCascade1, WindowTileHorizontal1, WindowTileVertical1,
                              WindowMinimizeAll1, WindowArrangeAll1});
    connect(m_windowMenu, &QMenu::aboutToShow, this, &TMainForm::updateWindowMenu);
    addAction(CommandLine);

    QToolBar* tools = addToolBar(QStringLiteral("Commands"));
    tools->setObjectName(QStringLiteral("Commands"));
    tools->setToolButtonStyle(Qt::ToolButtonIconOnly);
    tools->setIconSize(QSize(16, 16));
    tools->addActions({New, Open, Save});
    tools->addSeparator();
    tools->addActions({WindowCascade1, WindowTileHorizontal1, WindowTileVertical1});
    tools->addSeparator();
    tools->addActions({Run, Terminate, Options});

    // A command's hint belongs to the command under the mouse: once a menu closes or the
    // mouse leaves the toolbar, the panel says again where the task stands.
    for (QMenu* menu : {file, m_windowMenu, m_recentMenu})
        connect(menu, &QMenu::aboutToHide, this, [this] { m_hintPanel->setText(m_standing); });
    tools->installEventFilter(this);

    // The recent files can be opened, and a store watched, whenever Open can.
    connect(Open, &QAction::changed, this, [this] {
        Watch->setEnabled(Open->isEnabled());
        m_recentMenu->menuAction()->setEnabled(Open->isEnabled() &&
                                               !m_recentMenu->actions().isEmpty());
    });
    updateRecentMenu();
}

void TMainForm::updateWindowMenu()
{
    // The open child windows follow the commands, numbered for the keyboard; the active one
    // is checked, and choosing one brings it back if it was minimised.
    for (QAction* entry : m_windowEntries) {
        m_windowMenu->removeAction(entry);
        entry->deleteLater();
    }
    m_windowEntries.clear();
    const QList<QMdiSubWindow*> windows = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    m_windowEntries << m_windowMenu->addSeparator();
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows[i];
        const QString title = window->widget() ? window->widget()->windowTitle() : QString();
        const QString caption = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title)
                                      : QStringLiteral("%1 %2").arg(i + 1).arg(title);
        QAction* entry = m_windowMenu->addAction(caption);
        entry->setCheckable(true);
        entry->setChecked(window == m_mdi->activeSubWindow());
        connect(entry, &QAction::triggered, this, [this, guarded = QPointer(window)] {
            if (!guarded)
                return;
            if (guarded->isMinimized())
                guarded->showNormal();
            m_mdi->setActiveSubWindow(guarded);
        });
        m_windowEntries << entry;
    }
}

void TMainForm::addRecentFile(const QString& fileName)
{
    DesktopSettings().addRecentFile(fileName);
    updateRecentMenu();
}

void TMainForm::updateRecentMenu()
{
    // The old entries go later: this may run inside the handler of one of them.
    for (QAction* entry : m_recentMenu->actions()) {
        m_recentMenu->removeAction(entry);
        entry->deleteLater();
    }
    const QStringList files = DesktopSettings().recentFiles();
    for (int i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        QAction* entry = m_recentMenu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        entry->setStatusTip(QStringLiteral("Open %1").arg(QDir::toNativeSeparators(path)));
        connect(entry, &QAction::triggered, this, [this, path] { openRecentFile(path); });
    }
    m_recentMenu->menuAction()->setEnabled(Open->isEnabled() && !files.isEmpty());
}

void TMainForm::openRecentFile(const QString& fileName)
{
    if (!QFileInfo::exists(fileName)) {
        DesktopSettings().removeRecentFile(fileName);
        updateRecentMenu();
        showMessage(QStringLiteral("warning"),
                    QStringLiteral("File:\n") + fileName +
                        QStringLiteral("\ndoes not exist.\nIt is removed from the recent files."));
        return;
    }
    openFile(fileName);
}

} // namespace zyl
