#include "shell/ConsoleWindow.h"

#include "common/Exception.h"
#include "script/ProjectScript.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zyl {

TIOconsole::TIOconsole(SymbolTable& table, ScriptSource currentScript, QWidget* parent)
    : QDialog(parent), m_currentScript(std::move(currentScript)),
      m_console(table, [this](const std::string& key, const std::string& value) {
          recordEquation(key, value);
      })
{
    setObjectName(QStringLiteral("IOconsole"));
    setWindowTitle(QStringLiteral("I/O console"));
    resize(initialSize);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(RichEdit1);
    clearText();
}

void TIOconsole::clearText() { RichEdit1->clear(); }

void TIOconsole::showLinesWhole()
{
    // A failure line names a program, a folder and the program's own words: too long for
    // the size the console has beside the Initialise dialog.
    const QFontMetrics metrics(RichEdit1->font());
    int widest = 0;
    int lines = 0;
    for (QTextBlock line = RichEdit1->document()->begin(); line.isValid(); line = line.next()) {
        widest = std::max(widest, metrics.horizontalAdvance(line.text()));
        ++lines;
    }
    // Around the text: the document's margins, the caret, the frame and the scroll bars.
    const int margin = static_cast<int>(std::ceil(2 * RichEdit1->document()->documentMargin()));
    const int frame = 2 * RichEdit1->frameWidth();
    const int width = widest + margin + RichEdit1->cursorWidth() + frame +
                      RichEdit1->verticalScrollBar()->sizeHint().width();
    const int height = lines * metrics.lineSpacing() + margin + frame +
                       RichEdit1->horizontalScrollBar()->sizeHint().height();
    QSize wanted = QSize(width, height).expandedTo(initialSize);
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen())
        wanted = wanted.boundedTo(screen->availableGeometry().size() * 9 / 10);
    // One already open keeps a larger size the user gave it.
    resize(isVisible() ? wanted.expandedTo(size()) : wanted);
    show();
    raise();
    activateWindow();
}

bool TIOconsole::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == RichEdit1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (RichEdit1KeyDown(key)) {
            // The line break is made here rather than by the control, because with Shift held
            // the control would insert a soft break, and the next Enter would then read two
            // screen lines as one statement.
            QTextCursor caret = RichEdit1->textCursor();
            caret.insertBlock();
            RichEdit1->setTextCursor(caret);
            RichEdit1->ensureCursorVisible();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool TIOconsole::RichEdit1KeyDown(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;

    QTextCursor caret = RichEdit1->textCursor();
    const QTextBlock line = caret.block();
    m_recordFailure.clear();
    ConsoleResult result = m_console.execute(line.text().toStdString());
    if (!m_recordFailure.empty())
        result.appended.push_back(">> " + m_recordFailure);

    // Output goes on new lines directly below the typed one, in screen order.
    caret.setPosition(line.position() + line.length() - 1);
    for (const std::string& text : result.linesBelow) {
        caret.insertBlock();
        caret.insertText(QString::fromStdString(text));
    }
    // Failures go to the very end; an empty last line (left by the previous Enter) takes the
    // first of them, so that no blank line separates them from the text above.
    if (!result.appended.empty()) {
        caret.movePosition(QTextCursor::End);
        bool reuseLast = caret.block().text().isEmpty() && caret.block() != line &&
                         caret.block().blockNumber() > 0;
        for (const std::string& text : result.appended) {
            if (!reuseLast)
                caret.insertBlock();
            reuseLast = false;
            caret.insertText(QString::fromStdString(text));
        }
    }
    // The caret ends behind the last line written, so the following line break opens a fresh
    // input line after the output rather than splitting the typed line.
    RichEdit1->setTextCursor(caret);

    if (result.closeRequested)
        accept();
    return true;
}

void TIOconsole::recordEquation(const std::string& key, const std::string& value)
{
    ProjectScript* script = m_currentScript ? m_currentScript() : nullptr;
    if (!script)
        return;
    // A name never holds blanks: "f = x^2" must be found as the objective "f" when the task
    // is loaded from memory, where no blank stripping happens.
    std::string name;
    for (char c : key)
        if (c != ' ' && c != '\t')
            name.push_back(c);
    try {
        script->WriteString("EQUATIONS", name, value);
    } catch (const Exception& error) {
        // The statement is still executed; the user learns why the project will not carry it.
        m_recordFailure = error.what();
    }
}

} // namespace zyl
