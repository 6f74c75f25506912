#pragma once

#include <QDialog>
#include <QString>

#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace zyl {

class ProjectScript;
class ZYL;

/// The genetic-algorithm options of the loaded task. Showing fills the controls from the live
/// settings; OK sets the live settings and writes the same values into the project script
/// (not to its file: Save does that). Created once and reused.
class TOKBottomDlg1 : public QDialog {
    Q_OBJECT

public:
    explicit TOKBottomDlg1(QWidget* parent = nullptr);

    /// The task the dialog edits: the engine object, the loop counter of the project settings
    /// and the script. All must outlive the binding; nullptr for `zyl` or `loopCounter` unbinds,
    /// after which showing and OK leave everything alone. A null `script` edits the live
    /// settings only.
    void setProject(ZYL* zyl, int* loopCounter, ProjectScript* script);

    /// An external task's worker count (programs run at once) to edit too, or nullptr: the
    /// box is then disabled. Bound like the task, until the next setProject.
    void setWorkers(int* workers) { m_workers = workers; }

    /// Whether the bound task is a manual one, which runs with the genetic algorithm only: the
    /// other methods are then disabled. Bound like the task, until the next setProject.
    void setManual(bool manual) { m_manual = manual; }

    /// The objectives of a multi-objective task (two names or more) and the reference point of
    /// its hypervolume as the user chose it (one number per objective; empty: the program
    /// chooses), to edit too. The Method page then offers the multi-objective methods only,
    /// and a single-objective task (no call, or fewer names) the others only. `reference`
    /// must outlive the binding, which lasts until the next setProject.
    void setObjectives(std::vector<std::string> names, std::vector<double>* reference);

    /// Binds the task, shows the dialog modally, unbinds; returns the dialog's result.
    int execFor(ZYL& zyl, int& loopCounter, ProjectScript* script);

    QTabWidget* PageControl1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    // General
    QCheckBox* CheckBoxMaximisation;
    QSpinBox* UpDownLoopCounter;
    QSpinBox* UpDownMaxIterations;
    QCheckBox* CheckBoxClose;
    /// constraint_tolerance; enabled for a constrained task only.
    QLineEdit* EditConstraintTolerance;
    // Selection
    QRadioButton* RadioButtonTournament;
    QSpinBox* UpDownTournamentSize;
    QRadioButton* RadioButtonRoulette;
    QCheckBox* CheckBoxElite;
    // Crossover
    QLineEdit* EditCrossProb;
    QRadioButton* RadioButtonMultipoint;
    QSpinBox* UpDownPoints;
    QRadioButton* RadioButtonArithmetical;
    QRadioButton* RadioButtonCrossUniform;
    QLineEdit* EditCrossUnifProb;
    // Mutation
    QLineEdit* EditMutProb;
    QRadioButton* RadioButtonMutUniform;
    QRadioButton* RadioButtonNonuniform;
    QLineEdit* EditUniformityCoeff;
    // Population
    QRadioButton* RadioButtonConstant;
    QRadioButton* RadioButtonVariable;
    QSpinBox* UpDownWorkers;
    // Method
    QRadioButton* RadioButtonGa;
    QRadioButton* RadioButtonCmaes;
    QRadioButton* RadioButtonDe;
    QRadioButton* RadioButtonTrust;
    QRadioButton* RadioButtonNsga2;
    QRadioButton* RadioButtonSmsEmoa;
    /// hv_reference: one number per objective separated by ";", empty for the automatic one.
    QLineEdit* EditHvReference;
    QLineEdit* EditCmaesStep;
    QSpinBox* UpDownCmaesRestarts;
    QSpinBox* UpDownCmaesGrowth;
    QLineEdit* EditCmaesMeanRate;
    QLineEdit* EditDeWeight;
    QLineEdit* EditDeCrossover;
    QLineEdit* EditDeAdaptation;
    QLineEdit* EditTrustRadius;
    QLineEdit* EditTrustAfter;

public slots:
    /// Fills the controls from the bound task.
    void FormShow();
    /// Applies the controls to the bound task and its script, then closes. A field the task
    /// cannot take (a probability that is not a number, a method parameter or a tolerance the
    /// loader refuses) is shown with its message instead, the dialog stays open on it, and
    /// nothing is applied.
    void OKBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* createGeneralPage();
    QWidget* createSelectionPage();
    QWidget* createCrossoverPage();
    QWidget* createMutationPage();
    QWidget* createPopulationPage();
    QWidget* createMethodPage();
    /// A field whose text the task cannot take, and the message that says why.
    struct FieldProblem {
        QLineEdit* field;
        QString message;
    };
    std::optional<FieldProblem> firstBadField() const;
    void apply();
    void applyMethod();
    bool multiObjective() const { return m_objectives.size() >= 2; }
    /// The method buttons with the names of their methods; the multi-objective ones last.
    struct MethodChoice {
        const char* name;
        QRadioButton* button;
        bool multiObjective;
    };
    std::vector<MethodChoice> methodChoices() const;

    ZYL* m_zyl = nullptr;
    int* m_loopCounter = nullptr;
    int* m_workers = nullptr;
    bool m_manual = false;
    std::vector<std::string> m_objectives;
    std::vector<double>* m_reference = nullptr;
    ProjectScript* m_script = nullptr;
};

} // namespace zyl
