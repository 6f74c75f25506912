// zyl: the desktop application.
#include "ZylVersion.h"
#include "shell/AppIcon.h"
#include "shell/MainWindow.h"
#include "shell/SignalClose.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// Answered before the toolkit starts, so that they work without a display.
std::optional<int> answerInformationRequest(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs("Usage: zyl [SCRIPT | --watch STORE]\n"
                       "The ZYL desktop optimiser. With a project script it loads the script and\n"
                       "runs its task at once; with close=1 in [OPTIONS] it ends after the run.\n"
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
    qsizetype separator = arguments.indexOf(QStringLiteral("--"));
    QString watched;
    for (qsizetype i = 0; i < (separator < 0 ? arguments.size() : separator); ++i) {
        if (arguments[i] == QLatin1String("--watch")) {
            if (i + 1 >= (separator < 0 ? arguments.size() : separator) || !watched.isEmpty()) {
                std::fputs("zyl: --watch takes one run store\n", stderr);
                return 2;
            }
            watched = arguments[i + 1];
            arguments.remove(i, 2);
            separator = separator < 0 ? separator : separator - 2;
            --i;
            continue;
        }
        if (arguments[i].size() > 1 && arguments[i].startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "zyl: unknown option %s\n", qPrintable(arguments[i]));
            return 2;
        }
    }
    if (separator >= 0)
        arguments.removeAt(separator);
    if (!watched.isEmpty() && !arguments.isEmpty()) {
        std::fputs("zyl: --watch shows a run store, and takes no script besides\n", stderr);
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
    if (!watched.isEmpty())
        mainForm.watchOnStart(watched);
    mainForm.show();
    zyl::closeOnSignals(mainForm);
    const int status = QApplication::exec();
    // Closed by a signal: the status a shell expects of a program it interrupted.
    return zyl::closingSignal() ? 128 + zyl::closingSignal() : status;
}
