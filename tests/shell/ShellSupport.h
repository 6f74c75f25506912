#pragma once

#include "shell/DesktopSettings.h"
#include "shell/MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QTimer>

#include <string>
#include <vector>

namespace zyl::test {

/// Answers every message box that opens while it lives by pressing its `answer` button (OK,
/// unless told otherwise; a box without it is rejected), and keeps what each box said, so
/// that a test can check the message and go on.
class MessageBoxAnswerer {
public:
    struct Shown {
        std::string caption;
        std::string text;
        QMessageBox::Icon icon;
    };

    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : answer(answer)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            shown.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                             box->icon()});
            if (QAbstractButton* button = box->button(this->answer))
                button->click();
            else
                box->reject();
        });
        m_timer.start();
    }

    QMessageBox::StandardButton answer;
    std::vector<Shown> shown;

private:
    QTimer m_timer;
};

/// Empties the desktop settings (which the test program keeps in a folder of its own), so that
/// a main window made after it starts as on a first start.
struct FreshSettings {
    FreshSettings() { DesktopSettings().store().clear(); }
};

/// The items of `menu` and of its submenus that the keyboard cannot reach: those with neither
/// a mnemonic nor a shortcut, and the second of two that share a mnemonic.
inline QStringList keyboardGaps(const QMenu* menu)
{
    QStringList gaps;
    QSet<QKeySequence> mnemonics;
    for (const QAction* item : menu->actions()) {
        if (item->isSeparator())
            continue;
        const QKeySequence mnemonic = QKeySequence::mnemonic(item->text());
        if (!mnemonic.isEmpty() && mnemonics.contains(mnemonic))
            gaps << item->text() + " shares its mnemonic";
        else if (mnemonic.isEmpty() && item->shortcut().isEmpty())
            gaps << item->text() + " has neither mnemonic nor shortcut";
        mnemonics.insert(mnemonic);
        if (item->menu())
            gaps << keyboardGaps(item->menu());
    }
    return gaps;
}

/// Waits until the form's running task has ended, at most `timeoutMs`; true when it has.
inline bool waitForRun(TMainForm& form, int timeoutMs)
{
    if (!form.running())
        return true;
    QEventLoop loop;
    QObject::connect(&form, &TMainForm::runFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !form.running();
}

} // namespace zyl::test
