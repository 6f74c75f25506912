#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;

namespace zyl {

class ProjectScript;
class TForm5;
class TIOconsole;

/// The editor of a new task: variables, how the function is given, what to show, plots and
/// exports. Created once and reused, so the fields keep what the user entered.
///
/// The dialog works on the owner's current-script slot: showing it puts a fresh empty script
/// there, OK writes the task into it, and every other way out (Cancel, Esc, the close box)
/// empties the slot again. The console writes into the same slot while "I/O" has it open.
class TOKBottomDlg : public QDialog {
    Q_OBJECT

public:
    /// `currentScript` and `console` must outlive the dialog.
    TOKBottomDlg(std::unique_ptr<ProjectScript>& currentScript, TIOconsole& console,
                 QWidget* parent = nullptr);

    /// The variable-names window of the "?" buttons. The dialog owns it as a child window, so
    /// that it takes input while the dialog is modal.
    TForm5* Form5;

    QTabWidget* PageControl1;
    QWidget* TabSheetVariables;
    QWidget* TabSheetFunction;
    QWidget* TabSheetGeneral;
    QWidget* TabSheetPlots;
    QWidget* TabSheetExport;
    QWidget* TabSheetConstraints;
    QWidget* TabSheetObjectives;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    // Variables page
    QRadioButton* RadioButtonBoolean;
    QRadioButton* RadioButtonInteger;
    QRadioButton* RadioButtonReal;
    QLineEdit* EditIntegerFrom;
    QLineEdit* EditIntegerTo;
    QLineEdit* EditRealFrom;
    QLineEdit* EditRealTo;
    QPushButton* ButtonAddVar;
    QPushButton* ButtonRemoveVar;
    /// Columns Name, Type, Range; the type text of each row is the UserRole data of column 0.
    QTreeWidget* ListViewVariables;

    // Function page
    QRadioButton* RadioButtonManual;
    QRadioButton* RadioButtonAnalytical;
    QRadioButton* RadioButtonExternal;
    QLineEdit* EditFormula;
    QPushButton* ButtonIO;
    QLineEdit* EditInputName;
    QLineEdit* EditExternalName;
    QLineEdit* EditOutputName;

    // Constraints page: each row a name (edited in place; empty: c1, c2, ...) and a formula
    // that must be at most 0 (or the tolerance) for a design to be feasible.
    QLineEdit* EditConstraint;
    QTreeWidget* ListViewConstraints;
    QPushButton* ButtonAddConstraint;
    QPushButton* ButtonRemoveConstraint;

    // Objectives page: each row a name (edited in place; empty: f1, f2, ...), a formula and
    // whether it is maximised (a check box in the third column). With two objectives or more
    // the task is multi-objective and needs no f.
    QLineEdit* EditObjective;
    /// Whether the row the Add button makes is maximised.
    QCheckBox* CheckBoxMaximiseObjective;
    QTreeWidget* ListViewObjectives;
    QPushButton* ButtonAddObjective;
    QPushButton* ButtonRemoveObjective;
    /// How many objective values an external program writes before its constraint values;
    /// enabled for an external task only.
    QSpinBox* UpDownExternalObjectives;

    // General page
    QCheckBox* CheckBoxStatisticHistory;
    QCheckBox* CheckBoxBufferIndividuals;
    QCheckBox* CheckBoxShowBuffered;
    QCheckBox* CheckBoxShowPopulation;
    QCheckBox* CheckBoxPopulationHistory;
    QCheckBox* CheckBoxShowVariables;
    QSpinBox* UpDownPopSize;

    // Plots page
    QLineEdit* EditPlot;
    QTreeWidget* ListViewPlots;
    QPushButton* ButtonAddPlot;
    QPushButton* ButtonRemovePlot;
    QPushButton* ButtonHelpPlot;

    // Export page
    QLineEdit* EditExport;
    QTreeWidget* ListViewExport;
    QPushButton* ButtonAddExport;
    QPushButton* ButtonRemoveExport;
    QPushButton* ButtonHelpExport;
    QLineEdit* EditExportName;
    QCheckBox* CheckBoxEveryIteration;

public slots:
    /// A fresh empty script, without a file name, becomes the current script.
    void FormShow();
    /// Writes the task into the current script and closes with OK; with an empty variable
    /// list (or a name that cannot be written) it warns and stays open.
    void OKBtnClick();
    /// Discards the current script and closes.
    void reject() override;
    /// Closes the variable-names window with the dialog that opened it.
    void done(int result) override;

    void ButtonAddVarClick();
    void ButtonRemoveVarClick();
    void ButtonAddPlotClick();
    void ButtonRemovePlotClick();
    void ButtonAddExportClick();
    void ButtonAddConstraintClick();
    void ButtonAddObjectiveClick();
    void ButtonRemoveExportClick();
    /// Opens the console modally; an f defined there then shows in the formula field.
    void ButtonIOClick();
    /// Shows the variable-names window beside the dialog.
    void ButtonHelpClick();
    void RadioButtonVariableTypeClick();
    void RadioButtonFunctionClick();

protected:
    void showEvent(QShowEvent* event) override;
    /// Enter in a field that has an Add button adds its row.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* createVariablesPage();
    QWidget* createFunctionPage();
    QWidget* createGeneralPage();
    QWidget* createPlotsPage();
    QWidget* createExportPage();
    QWidget* createConstraintsPage();
    QWidget* createObjectivesPage();
    /// The objectives the task has in all: the rows, and an external program's values.
    int objectiveCount() const;
    /// Steps of OK; throws Exception when a line cannot be written.
    bool writeScript(ProjectScript& script);
    /// The Add button of a field of the dialog, or null.
    QPushButton* addButtonOf(const QObject* field) const;
    /// Shows the first constraint or objective named like a built-in name of the language,
    /// with why it is refused; false when there is none.
    bool refuseBuiltinName();

    std::unique_ptr<ProjectScript>& m_currentScript;
    TIOconsole& m_console;
};

} // namespace zyl
