// zyl: the desktop application.
#include "ZylVersion.h"
#include "shell/AppIcon.h"
#include "shell/MainWindow.h"
#include "shell/SignalClose.h"
#include "script/ScriptOverrides.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// Answered before the toolkit starts, so that they work without a display.
std::optional<int> answerInformationRequest(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs("Usage: zyl [--set SECTION.key=value]... [SCRIPT]\n"
                       "       zyl --watch STORE\n"
                       "The ZYL desktop optimiser. With a project script it loads the script and\n"
                       "runs its task at once; with close=1 in [OPTIONS] it ends after the run.\n"
                       "  --set SECTION.key=value  set a key of the script as if the script\n"
                       "                 said it (repeatable)\n"
                       "  --watch STORE  show the run store STORE as another process writes it\n"
                       "  -h, --help     print this help and exit\n"
                       "  --version      print the version and exit\n"
                       "The toolkit's own options (-platform, -style, ...) are accepted too.\n",
                       stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("zyl " ZYL_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (std::optional<int> status = answerInformationRequest(argc, argv))
        return *status;
    QApplication app(argc, argv);
    zyl::installApplicationIcon();
    // The toolkit has taken its own options out; what remains is ours.
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    std::vector<std::string> setArguments;
    QString watched;
    for (qsizetype i = 0; i < arguments.size() && arguments[i] != QLatin1String("--");) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--set") || argument.startsWith(QLatin1String("--set="))) {
            if (argument == QLatin1String("--set") && i + 1 == arguments.size()) {
                std::fputs("zyl: --set needs SECTION.key=value\n", stderr);
                return 2;
            }
            const bool apart = argument == QLatin1String("--set");
            setArguments.push_back((apart ? arguments[i + 1] : argument.mid(6)).toStdString());
            arguments.remove(i, apart ? 2 : 1);
            continue;
        }
        if (argument == QLatin1String("--watch")) {
            if (i + 1 == arguments.size() || arguments[i + 1] == QLatin1String("--") ||
                !watched.isEmpty()) {
                std::fputs("zyl: --watch takes one run store\n", stderr);
                return 2;
            }
            watched = arguments[i + 1];
            arguments.remove(i, 2);
            continue;
        }
        if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "zyl: unknown option %s\n", qPrintable(argument));
            return 2;
        }
        ++i;
    }
    if (const qsizetype separator = arguments.indexOf(QStringLiteral("--")); separator >= 0)
        arguments.removeAt(separator);
    std::vector<zyl::ScriptOverride> overrides;
    try {
        overrides = zyl::parseOverrides(setArguments);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zyl: %s\n", error.what());
        return 2;
    }
    if (!watched.isEmpty() && !arguments.isEmpty()) {
        std::fputs("zyl: --watch shows a run store, and takes no script besides\n", stderr);
        return 2;
    }
    // A watched run is the writer's task as it stands: there is nothing to set.
    if (!watched.isEmpty() && !overrides.empty()) {
        std::fputs("zyl: --watch shows a run store as its writer runs it, and takes no --set\n",
                   stderr);
        return 2;
    }
    if (!overrides.empty() && arguments.isEmpty()) {
        std::fputs("zyl: --set needs a SCRIPT (or a run store) to set the keys of\n", stderr);
        return 2;
    }
    if (arguments.size() >= 2) {
        std::fputs("zyl: One parameter allowed only! Aplication terminated.\n", stderr);
        // Without a display nobody can answer the box, and the program would wait forever.
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            QMessageBox::critical(
                nullptr, QStringLiteral("ZYL"),
                QStringLiteral("One parameter allowed only!\nAplication terminated."));
        return 2;
    }
    zyl::TMainForm mainForm(arguments);
    mainForm.setCommandLineOverrides(std::move(overrides));
    if (!watched.isEmpty())
        mainForm.watchOnStart(watched);
    mainForm.show();
    zyl::closeOnSignals(mainForm);
    const int status = QApplication::exec();
    // Closed by a signal: the status a shell expects of a program it interrupted.
    return zyl::closingSignal() ? 128 + zyl::closingSignal() : status;
}
