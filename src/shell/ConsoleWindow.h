#pragma once

#include "expr/Console.h"

#include <QDialog>
#include <QSize>

#include <functional>

class QPlainTextEdit;

namespace zyl {

class ProjectScript;

/// The expression console: statements typed line by line, their results written into the
/// same text just below the line. Lines with "=" are also recorded in the EQUATIONS section of
/// the current project script, so that the project re-creates the definitions when it loads.
///
/// The line processing is the core's Console; this window only moves text between the
/// control and it.
class TIOconsole : public QDialog {
    Q_OBJECT

public:
    /// Gives the current project script, or nullptr when there is none (nothing is recorded
    /// then). Asked anew for every line, so the window follows the owner's changes.
    using ScriptSource = std::function<ProjectScript*()>;

    /// `table` is the process's symbol table and must outlive the window.
    TIOconsole(SymbolTable& table, ScriptSource currentScript, QWidget* parent = nullptr);

    /// Empties the text (Close all does this).
    void clearText();

    /// Shows the window, not modal, large enough for every line to be read without scrolling
    /// sideways (within the screen), and brings it to the front.
    void showLinesWhole();

    /// The Enter key's work on the caret's line: record, execute, write the output. Other keys
    /// are ignored. Returns true when the key was Enter.
    bool RichEdit1KeyDown(int key);

    QPlainTextEdit* RichEdit1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void recordEquation(const std::string& key, const std::string& value);

    /// The size beside the Initialise dialog, and the least it is shown at.
    static constexpr QSize initialSize{334, 210};
    ScriptSource m_currentScript;
    Console m_console;
    /// A line that could not be recorded in the script, shown after the line's own output.
    std::string m_recordFailure;
};

} // namespace zyl
