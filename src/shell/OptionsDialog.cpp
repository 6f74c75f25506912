#include "shell/OptionsDialog.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "engine/Zyl.h"
#include "engine/Method.h"
#include "project/Loader.h"
#include "script/ProjectScript.h"
#include "shell/Messages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace zyl {

namespace {

QSpinBox* spinBox(QWidget* parent, int lo, int hi)
{
    auto* box = new QSpinBox(parent);
    box->setRange(lo, hi);
    return box;
}

/// A label and its field on one row; fields that belong to a radio button are indented.
QHBoxLayout* labelled(QWidget* parent, const QString& label, QWidget* field, int indent = 0)
{
    auto* row = new QHBoxLayout;
    row->addSpacing(indent);
    row->addWidget(new QLabel(label, parent));
    row->addWidget(field);
    row->addStretch();
    return row;
}

QString shortText(double x) { return QString::fromStdString(realToShortText(x)); }

double withinOr(double x, double lo, double hi, double fallback)
{
    return x >= lo && x <= hi ? x : fallback;
}

/// A reference point of the hypervolume: `count` finite numbers separated by ";", or none for
/// the automatic one (an empty vector). Nothing when the text is neither.
std::optional<std::vector<double>> referenceOf(const QString& text, std::size_t count)
{
    std::vector<double> reference;
    if (text.trimmed().isEmpty())
        return reference;
    for (const QString& part : text.split(QLatin1Char(';'))) {
        const std::optional<double> value = parseReal(part.toStdString());
        if (!value || !std::isfinite(*value))
            return std::nullopt;
        reference.push_back(*value);
    }
    if (reference.size() != count)
        return std::nullopt;
    return reference;
}

QString referenceText(const std::vector<double>& reference)
{
    QStringList parts;
    for (double r : reference)
        parts << shortText(r);
    return parts.join(QLatin1Char(';'));
}

/// A constraint tolerance as the loader takes it: a finite number not below 0.
std::optional<double> toleranceOf(const QString& text)
{
    const std::optional<double> tolerance = parseReal(text.toStdString());
    if (!tolerance || !(*tolerance >= 0) || std::isinf(*tolerance))
        return std::nullopt;
    return tolerance;
}

} // namespace

TOKBottomDlg1::TOKBottomDlg1(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("OKBottomDlg1"));
    setWindowTitle(QStringLiteral("Options"));

    PageControl1 = new QTabWidget(this);
    PageControl1->addTab(createGeneralPage(), QStringLiteral("General"));
    PageControl1->addTab(createSelectionPage(), QStringLiteral("Selection"));
    PageControl1->addTab(createCrossoverPage(), QStringLiteral("Crossover"));
    PageControl1->addTab(createMutationPage(), QStringLiteral("Mutation"));
    PageControl1->addTab(createPopulationPage(), QStringLiteral("Population"));
    PageControl1->addTab(createMethodPage(), QStringLiteral("Method"));
    PageControl1->setCurrentIndex(1);
    PageControl1->setUsesScrollButtons(false);

    auto* buttons = new QDialogButtonBox(this);
    OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg1::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addWidget(buttons);
}

QWidget* TOKBottomDlg1::createGeneralPage()
{
    auto* page = new QWidget(this);
    CheckBoxMaximisation = new QCheckBox(QStringLiteral("Maximisation"), page);
    UpDownLoopCounter = spinBox(page, 1, 1000);
    UpDownMaxIterations = spinBox(page, 1, 30000);
    CheckBoxClose = new QCheckBox(QStringLiteral("Close ZYL when finished"), page);
    EditConstraintTolerance = new QLineEdit(page);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(CheckBoxMaximisation);
    layout->addLayout(labelled(page, QStringLiteral("Loop counter"), UpDownLoopCounter));
    layout->addLayout(labelled(page, QStringLiteral("Max iterations"), UpDownMaxIterations));
    layout->addWidget(CheckBoxClose);
    layout->addLayout(
        labelled(page, QStringLiteral("Constraint tolerance"), EditConstraintTolerance));
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg1::createSelectionPage()
{
    auto* page = new QWidget(this);
    RadioButtonTournament = new QRadioButton(QStringLiteral("Tournament"), page);
    UpDownTournamentSize = spinBox(page, 1, 1000);
    RadioButtonRoulette = new QRadioButton(QStringLiteral("Roulette"), page);
    RadioButtonRoulette->setEnabled(false);
    CheckBoxElite = new QCheckBox(QStringLiteral("Elite selection"), page);
    auto* group = new QButtonGroup(page);
    group->addButton(RadioButtonTournament);
    group->addButton(RadioButtonRoulette);
    RadioButtonTournament->setChecked(true);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(RadioButtonTournament);
    layout->addLayout(
        labelled(page, QStringLiteral("Tournament size"), UpDownTournamentSize, 24));
    layout->addWidget(RadioButtonRoulette);
    layout->addWidget(CheckBoxElite);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg1::createCrossoverPage()
{
    auto* page = new QWidget(this);
    EditCrossProb = new QLineEdit(page);
    auto* type = new QGroupBox(QStringLiteral("Crossover type"), page);
    RadioButtonMultipoint = new QRadioButton(QStringLiteral("Multipoint"), type);
    UpDownPoints = spinBox(type, 1, 1);
    RadioButtonArithmetical = new QRadioButton(QStringLiteral("Arithmetical"), type);
    RadioButtonCrossUniform = new QRadioButton(QStringLiteral("Uniform"), type);
    EditCrossUnifProb = new QLineEdit(type);
    RadioButtonArithmetical->setChecked(true);

    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(RadioButtonMultipoint);
    typeLayout->addLayout(labelled(type, QStringLiteral("Points"), UpDownPoints, 24));
    typeLayout->addWidget(RadioButtonArithmetical);
    typeLayout->addWidget(RadioButtonCrossUniform);
    typeLayout->addLayout(
        labelled(type, QStringLiteral("Uniform cross. probability"), EditCrossUnifProb, 24));

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(labelled(page, QStringLiteral("Crossover probability"), EditCrossProb));
    layout->addWidget(type);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg1::createMutationPage()
{
    auto* page = new QWidget(this);
    EditMutProb = new QLineEdit(page);
    auto* type = new QGroupBox(QStringLiteral("Mutation type"), page);
    RadioButtonMutUniform = new QRadioButton(QStringLiteral("Uniform"), type);
    RadioButtonNonuniform = new QRadioButton(QStringLiteral("Nonuniform"), type);
    EditUniformityCoeff = new QLineEdit(QStringLiteral("2"), type);
    RadioButtonNonuniform->setChecked(true);

    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(RadioButtonMutUniform);
    typeLayout->addWidget(RadioButtonNonuniform);
    typeLayout->addLayout(
        labelled(type, QStringLiteral("Uniformity coefficient"), EditUniformityCoeff, 24));

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(labelled(page, QStringLiteral("Mutation probability"), EditMutProb));
    layout->addWidget(type);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg1::createPopulationPage()
{
    auto* page = new QWidget(this);
    auto* size = new QGroupBox(QStringLiteral("Population size"), page);
    RadioButtonConstant = new QRadioButton(QStringLiteral("Constant"), size);
    RadioButtonVariable = new QRadioButton(QStringLiteral("Variable"), size);
    RadioButtonVariable->setEnabled(false);
    RadioButtonConstant->setChecked(true);
    auto* sizeLayout = new QVBoxLayout(size);
    sizeLayout->addWidget(RadioButtonConstant);
    sizeLayout->addWidget(RadioButtonVariable);
    // The external program's evaluations: how many run side by side. The results are the
    // same for every count.
    auto* evaluation = new QGroupBox(QStringLiteral("External program"), page);
    UpDownWorkers = spinBox(evaluation, 1, 1024);
    auto* evaluationLayout = new QVBoxLayout(evaluation);
    evaluationLayout->addLayout(
        labelled(evaluation, QStringLiteral("Workers (programs at once)"), UpDownWorkers, 24));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(size);
    layout->addWidget(evaluation);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg1::createMethodPage()
{
    auto* page = new QWidget(this);
    RadioButtonGa = new QRadioButton(QStringLiteral("Genetic algorithm (ga)"), page);
    RadioButtonCmaes = new QRadioButton(QStringLiteral("CMA-ES (cmaes)"), page);
    RadioButtonDe = new QRadioButton(QStringLiteral("Differential evolution (de)"), page);
    RadioButtonTrust = new QRadioButton(QStringLiteral("Trust region (trust)"), page);
    RadioButtonNsga2 = new QRadioButton(QStringLiteral("NSGA-II (nsga2)"), page);
    RadioButtonSmsEmoa = new QRadioButton(QStringLiteral("SMS-EMOA (smsemoa)"), page);
    auto* group = new QButtonGroup(page);
    for (QRadioButton* button : {RadioButtonGa, RadioButtonCmaes, RadioButtonDe, RadioButtonTrust,
                                 RadioButtonNsga2, RadioButtonSmsEmoa})
        group->addButton(button);
    RadioButtonGa->setChecked(true);

    auto* cmaes = new QGroupBox(QStringLiteral("CMA-ES"), page);
    EditCmaesStep = new QLineEdit(cmaes);
    UpDownCmaesRestarts = spinBox(cmaes, 0, kMostRestarts);
    UpDownCmaesGrowth = spinBox(cmaes, 1, kMostGrowth);
    EditCmaesMeanRate = new QLineEdit(cmaes);
    EditCmaesMeanRate->setPlaceholderText(QStringLiteral("automatic"));
    auto* cmaesLayout = new QVBoxLayout(cmaes);
    cmaesLayout->addLayout(
        labelled(cmaes, QStringLiteral("Initial step (fraction of each range)"), EditCmaesStep));
    cmaesLayout->addLayout(labelled(cmaes, QStringLiteral("Restarts"), UpDownCmaesRestarts));
    cmaesLayout->addLayout(
        labelled(cmaes, QStringLiteral("Population growth per restart"), UpDownCmaesGrowth));
    cmaesLayout->addLayout(
        labelled(cmaes, QStringLiteral("Mean's share of each step"), EditCmaesMeanRate));

    auto* de = new QGroupBox(QStringLiteral("Differential evolution"), page);
    EditDeWeight = new QLineEdit(de);
    EditDeCrossover = new QLineEdit(de);
    EditDeAdaptation = new QLineEdit(de);
    auto* deLayout = new QVBoxLayout(de);
    deLayout->addLayout(labelled(de, QStringLiteral("Initial weight F"), EditDeWeight));
    deLayout->addLayout(labelled(de, QStringLiteral("Initial crossover rate CR"), EditDeCrossover));
    deLayout->addLayout(labelled(de, QStringLiteral("Adaptation probability"), EditDeAdaptation));

    auto* trust = new QGroupBox(QStringLiteral("Trust region"), page);
    EditTrustRadius = new QLineEdit(trust);
    EditTrustAfter = new QLineEdit(trust);
    EditTrustAfter->setPlaceholderText(QStringLiteral("never"));
    auto* trustLayout = new QVBoxLayout(trust);
    trustLayout->addLayout(labelled(trust, QStringLiteral("Initial radius (fraction of each range)"),
                                    EditTrustRadius));
    trustLayout->addLayout(labelled(
        trust, QStringLiteral("Refines another method's best after (share of max iteration)"),
        EditTrustAfter));

    auto* several = new QGroupBox(QStringLiteral("Several objectives"), page);
    EditHvReference = new QLineEdit(several);
    EditHvReference->setPlaceholderText(QStringLiteral("automatic"));
    auto* severalLayout = new QVBoxLayout(several);
    severalLayout->addLayout(labelled(
        several, QStringLiteral("Reference point of the hypervolume (one number per objective, ;"
                                " between them)"),
        EditHvReference));

    auto* layout = new QVBoxLayout(page);
    for (const MethodChoice& choice : methodChoices())
        layout->addWidget(choice.button);
    layout->addWidget(cmaes);
    layout->addWidget(de);
    layout->addWidget(trust);
    layout->addWidget(several);
    layout->addStretch();
    return page;
}

void TOKBottomDlg1::setProject(ZYL* zyl, int* loopCounter, ProjectScript* script)
{
    const bool bound = zyl && loopCounter;
    m_workers = nullptr;
    m_manual = false;
    m_objectives.clear();
    m_reference = nullptr;
    m_zyl = bound ? zyl : nullptr;
    m_loopCounter = bound ? loopCounter : nullptr;
    m_script = bound ? script : nullptr;
}

void TOKBottomDlg1::setObjectives(std::vector<std::string> names, std::vector<double>* reference)
{
    m_objectives = std::move(names);
    m_reference = reference;
}

std::vector<TOKBottomDlg1::MethodChoice> TOKBottomDlg1::methodChoices() const
{
    return {{"ga", RadioButtonGa, false},         {"cmaes", RadioButtonCmaes, false},
            {"de", RadioButtonDe, false},         {"trust", RadioButtonTrust, false},
            {"nsga2", RadioButtonNsga2, true},    {"smsemoa", RadioButtonSmsEmoa, true}};
}

int TOKBottomDlg1::execFor(ZYL& zyl, int& loopCounter, ProjectScript* script)
{
    setProject(&zyl, &loopCounter, script);
    const int result = exec();
    setProject(nullptr, nullptr, nullptr);
    return result;
}

void TOKBottomDlg1::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        FormShow();
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TOKBottomDlg1::FormShow()
{
    if (!m_zyl)
        return;
    const ZYL& zyl = *m_zyl;
    CheckBoxMaximisation->setChecked(zyl.maximise);
    UpDownLoopCounter->setValue(*m_loopCounter);
    UpDownMaxIterations->setValue(zyl.maxIteration);
    EditConstraintTolerance->setText(shortText(zyl.constraintTolerance));
    EditConstraintTolerance->setEnabled(zyl.constrained());
    // The box follows the script, so that OK never silently replaces a close=1 that the
    // script file brought with it.
    if (m_script)
        CheckBoxClose->setChecked(m_script->ReadBool("OPTIONS", "close", false));

    if (zyl.selection == 0)
        RadioButtonRoulette->setChecked(true);
    else
        RadioButtonTournament->setChecked(true);
    // The loader's bounds hold here too, so the dialog never writes what loading refuses.
    UpDownTournamentSize->setRange(1, std::min(zyl.popSize, maxTournamentSize));
    UpDownTournamentSize->setValue(zyl.tourSize);
    CheckBoxElite->setChecked(zyl.elite);

    EditCrossProb->setText(shortText(zyl.crossProb));
    EditCrossUnifProb->setText(shortText(zyl.crossUnifProb));
    UpDownPoints->setRange(1, std::min(zyl.count() > 1 ? zyl.count() - 1 : 1, maxCrossoverPoints));
    UpDownPoints->setValue(zyl.crossPoints);
    if (zyl.crossoverType == 0)
        RadioButtonMultipoint->setChecked(true);
    else if (zyl.crossoverType == 2)
        RadioButtonCrossUniform->setChecked(true);
    else
        RadioButtonArithmetical->setChecked(true);

    EditMutProb->setText(shortText(zyl.mutProb));
    if (zyl.mutationType == 0) {
        RadioButtonMutUniform->setChecked(true);
    } else {
        RadioButtonNonuniform->setChecked(true);
        if (!zyl.ranges.empty())
            EditUniformityCoeff->setText(shortText(zyl.ranges.front().uniformityCoeff));
    }

    if (zyl.variablePopSize)
        RadioButtonVariable->setChecked(true);
    else
        RadioButtonConstant->setChecked(true);
    UpDownWorkers->setEnabled(m_workers != nullptr);
    UpDownWorkers->setValue(m_workers ? *m_workers : 1);

    // A task of several objectives runs with the methods made for them, and one objective with
    // the others; a manual task with the genetic algorithm only.
    const MethodSettings& methods = zyl.methodSettings;
    const bool multi = multiObjective();
    (multi ? RadioButtonSmsEmoa : RadioButtonGa)->setChecked(true);
    for (const MethodChoice& choice : methodChoices()) {
        choice.button->setEnabled(choice.multiObjective == multi &&
                                  (!m_manual || choice.button == RadioButtonGa));
        if (choice.multiObjective == multi && methodName(methods.method) == choice.name)
            choice.button->setChecked(true);
    }
    EditTrustAfter->setEnabled(!m_manual && !multi);
    // Each objective says whether it is maximised.
    CheckBoxMaximisation->setEnabled(!multi);
    EditHvReference->setEnabled(multi);
    EditHvReference->setText(multi && m_reference ? referenceText(*m_reference) : QString());
    EditCmaesStep->setText(shortText(methods.cmaes.step));
    UpDownCmaesRestarts->setValue(methods.cmaes.restarts);
    UpDownCmaesGrowth->setValue(methods.cmaes.growth);
    EditCmaesMeanRate->setText(methods.cmaes.meanRate > 0 ? shortText(methods.cmaes.meanRate)
                                                          : QString());
    EditDeWeight->setText(shortText(methods.de.f));
    EditDeCrossover->setText(shortText(methods.de.cr));
    EditDeAdaptation->setText(shortText(methods.de.adaptation));
    EditTrustRadius->setText(shortText(methods.trust.radius));
    EditTrustAfter->setText(methods.trust.after > 0 ? shortText(methods.trust.after) : QString());
}

void TOKBottomDlg1::OKBtnClick()
{
    // Every field is checked before anything is applied: a value the task cannot take keeps
    // the dialog open on its field, with the task and the script as they were.
    if (const std::optional<FieldProblem> problem = firstBadField()) {
        for (int page = 0; page < PageControl1->count(); ++page)
            if (PageControl1->widget(page)->isAncestorOf(problem->field))
                PageControl1->setCurrentIndex(page);
        warningBox(this, problem->message, programCaption());
        problem->field->setFocus();
        problem->field->selectAll();
        return;
    }
    try {
        apply();
    } catch (const Exception& error) {
        warningBox(this, QString::fromStdString(error.what()), programCaption());
        return;
    }
    accept();
}

std::optional<TOKBottomDlg1::FieldProblem> TOKBottomDlg1::firstBadField() const
{
    if (!m_zyl)
        return std::nullopt;
    // In the order apply() reads them, so that the message is the one it would give.
    std::vector<QLineEdit*> reals{EditCrossProb};
    if (RadioButtonCrossUniform->isChecked())
        reals.push_back(EditCrossUnifProb);
    reals.push_back(EditMutProb);
    if (RadioButtonNonuniform->isChecked())
        reals.push_back(EditUniformityCoeff);
    for (QLineEdit* field : reals) {
        try {
            strToFloat(field->text().toStdString());
        } catch (const Exception& error) {
            return FieldProblem{field, QString::fromStdString(error.what())};
        }
    }
    // Each method field as the loader reads it, with the loader's message.
    const std::pair<const char*, QLineEdit*> methodFields[] = {
        {"cmaes_step", EditCmaesStep}, {"cmaes_mean_rate", EditCmaesMeanRate},
        {"de_f", EditDeWeight},        {"de_cr", EditDeCrossover},
        {"de_adaptation", EditDeAdaptation}, {"trust_radius", EditTrustRadius},
        {"trust_after", EditTrustAfter}};
    for (const auto& [key, field] : methodFields) {
        if (!field->isEnabled())
            continue;
        ProjectScript one;
        one.WriteString("METHOD", key, field->text().toStdString());
        try {
            readMethodSettings(one, FunctionMode::Analytical);
        } catch (const Exception& error) {
            return FieldProblem{field, QString::fromStdString(error.what())};
        }
    }
    if (multiObjective() && !referenceOf(EditHvReference->text(), m_objectives.size()))
        return FieldProblem{EditHvReference,
                            QStringLiteral("Hypervolume reference ought to hold one finite "
                                           "number per objective (%1), separated by \";\"")
                                .arg(m_objectives.size())};
    if (m_zyl->constrained() && !toleranceOf(EditConstraintTolerance->text()))
        return FieldProblem{
            EditConstraintTolerance,
            QStringLiteral("Constraint tolerance ought to be a number not below 0")};
    return std::nullopt;
}

void TOKBottomDlg1::apply()
{
    if (!m_zyl)
        return;
    ZYL& zyl = *m_zyl;
    ProjectScript* script = m_script;
    auto writeBool = [script](const char* section, const char* key, bool value) {
        if (script)
            script->WriteBool(section, key, value);
    };
    auto writeInteger = [script](const char* section, const char* key, int value) {
        if (script)
            script->WriteInteger(section, key, value);
    };
    auto writeFloat = [script](const char* section, const char* key, double value) {
        if (script)
            script->WriteFloat(section, key, value);
    };
    // The chosen alternative of a group is set; the others are cleared where the script
    // already names them, so that loading the script again picks the same alternative.
    auto writeChoice = [script](const char* section, const char* chosen,
                                std::initializer_list<const char*> others) {
        if (!script)
            return;
        script->WriteBool(section, chosen, true);
        for (const char* other : others)
            if (script->HasKey(section, other))
                script->WriteBool(section, other, false);
    };
    auto real = [](const QLineEdit* edit) { return strToFloat(edit->text().toStdString()); };

    // 1-4. General.
    zyl.maximise = CheckBoxMaximisation->isChecked();
    writeBool("OPTIONS", "maximisation", zyl.maximise);
    writeBool("OPTIONS", "close", CheckBoxClose->isChecked());
    *m_loopCounter = UpDownLoopCounter->value();
    writeInteger("OPTIONS", "loop_counter", *m_loopCounter);
    zyl.maxIteration = UpDownMaxIterations->value();
    writeInteger("OPTIONS", "max_iteration", zyl.maxIteration);

    // 5-6. Selection.
    if (RadioButtonTournament->isChecked()) {
        zyl.selection = 1;
        zyl.tourSize = UpDownTournamentSize->value();
        writeChoice("SELECTION", "tournament", {"roulette"});
        writeInteger("SELECTION", "tournament_size", zyl.tourSize);
    } else if (RadioButtonRoulette->isChecked()) {
        zyl.selection = 0;
        writeChoice("SELECTION", "roulette", {"tournament"});
    }
    zyl.elite = CheckBoxElite->isChecked();
    writeBool("SELECTION", "elite", zyl.elite);

    // 7-10. The real fields, checked by firstBadField().
    zyl.crossProb = withinOr(real(EditCrossProb), 0.0, 1.0, 0.7);
    writeFloat("CROSSOVER", "probability", zyl.crossProb);

    if (RadioButtonMultipoint->isChecked()) {
        zyl.crossoverType = 0;
        writeChoice("CROSSOVER", "multipoint", {"arithmetical", "uniform"});
        zyl.crossPoints = UpDownPoints->value();
        writeInteger("CROSSOVER", "points", zyl.crossPoints);
    } else if (RadioButtonArithmetical->isChecked()) {
        zyl.crossoverType = 1;
        writeChoice("CROSSOVER", "arithmetical", {"multipoint", "uniform"});
    } else if (RadioButtonCrossUniform->isChecked()) {
        zyl.crossoverType = 2;
        writeChoice("CROSSOVER", "uniform", {"multipoint", "arithmetical"});
        zyl.crossUnifProb = withinOr(real(EditCrossUnifProb), 0.0, 1.0, 0.5);
        writeFloat("CROSSOVER", "uniform_prob", zyl.crossUnifProb);
    }

    zyl.mutProb = withinOr(real(EditMutProb), 0.0, 1.0, 0.15);
    writeFloat("MUTATION", "probability", zyl.mutProb);

    if (RadioButtonMutUniform->isChecked()) {
        zyl.mutationType = 0;
        writeChoice("MUTATION", "uniform", {"nonuniform"});
    } else if (RadioButtonNonuniform->isChecked()) {
        zyl.mutationType = 1;
        writeChoice("MUTATION", "nonuniform", {"uniform"});
        const double coeff = withinOr(real(EditUniformityCoeff), 1.0, 100.0, 2.0);
        for (VariableRange& range : zyl.ranges)
            range.uniformityCoeff = coeff;
        writeFloat("MUTATION", "uniformity_coeff", coeff);
    }

    // 11. Population.
    zyl.variablePopSize = !RadioButtonConstant->isChecked();
    writeBool("POPULATION", "constatnt", RadioButtonConstant->isChecked());

    // 12. Workers; a script that never named the key gains it only for a count above one.
    if (m_workers) {
        *m_workers = UpDownWorkers->value();
        if (script && (*m_workers != 1 || script->HasKey("FUNCTION", "workers")))
            script->WriteInteger("FUNCTION", "workers", *m_workers);
    }

    // 13. The search method.
    applyMethod();

    // 14. The reference point; a script gains the key only for a point the user chose, and
    // keeps it (empty) when the choice goes back to the automatic one.
    if (multiObjective()) {
        const std::vector<double> reference =
            referenceOf(EditHvReference->text(), m_objectives.size()).value_or(std::vector<double>{});
        const bool chosenBefore = m_reference && !m_reference->empty();
        if (m_reference)
            *m_reference = reference;
        if (script && (!reference.empty() || chosenBefore))
            script->WriteString("OPTIONS", "hv_reference",
                                referenceText(reference).toStdString());
    }

    // 15. The constraint tolerance.
    if (zyl.constrained()) {
        const double tolerance = toleranceOf(EditConstraintTolerance->text()).value_or(0);
        zyl.changeConstraintTolerance(tolerance);
        writeFloat("OPTIONS", "constraint_tolerance", tolerance);
    }
}

void TOKBottomDlg1::applyMethod()
{
    // The fields are checked as the loader checks a script, with its messages, and taken all
    // or none: the dialog never sets what loading the saved script would refuse.
    const bool multi = multiObjective();
    std::string chosen = multi ? "smsemoa" : "ga";
    for (const MethodChoice& choice : methodChoices())
        if (choice.multiObjective == multi && choice.button->isChecked())
            chosen = choice.name;
    ProjectScript fields;
    fields.WriteString("OPTIONS", "method", chosen);
    fields.WriteString("METHOD", "cmaes_step", EditCmaesStep->text().toStdString());
    fields.WriteInteger("METHOD", "cmaes_restarts", UpDownCmaesRestarts->value());
    fields.WriteInteger("METHOD", "cmaes_growth", UpDownCmaesGrowth->value());
    fields.WriteString("METHOD", "cmaes_mean_rate", EditCmaesMeanRate->text().toStdString());
    fields.WriteString("METHOD", "de_f", EditDeWeight->text().toStdString());
    fields.WriteString("METHOD", "de_cr", EditDeCrossover->text().toStdString());
    fields.WriteString("METHOD", "de_adaptation", EditDeAdaptation->text().toStdString());
    fields.WriteString("METHOD", "trust_radius", EditTrustRadius->text().toStdString());
    // A manual task and one of several objectives are never refined: the field is off,
    // whatever it still shows.
    fields.WriteString("METHOD", "trust_after",
                       m_manual || multi ? std::string() : EditTrustAfter->text().toStdString());
    const MethodSettings methods =
        readMethodSettings(fields, m_manual ? FunctionMode::Manual : FunctionMode::Analytical,
                           multi);
    m_zyl->methodSettings = methods;
    const Method method = methods.method;
    ProjectScript* script = m_script;
    if (!script)
        return;
    // A script that never named a method gains keys only for what it leaves the genetic
    // algorithm for, so that saving it changes nothing else.
    auto named = [script](const char* section, const char* key, bool used) {
        return used || script->HasKey(section, key);
    };
    // Each kind of task has its default method: the genetic algorithm, or SMS-EMOA.
    if (named("OPTIONS", "method", chosen != (multi ? "smsemoa" : "ga")))
        script->WriteString("OPTIONS", "method", chosen);
    const bool cmaes = method == Method::Cmaes, de = method == Method::De,
               trust = method == Method::Trust;
    if (named("METHOD", "cmaes_step", cmaes))
        script->WriteFloat("METHOD", "cmaes_step", methods.cmaes.step);
    if (named("METHOD", "cmaes_restarts", cmaes))
        script->WriteInteger("METHOD", "cmaes_restarts", methods.cmaes.restarts);
    if (named("METHOD", "cmaes_growth", cmaes))
        script->WriteInteger("METHOD", "cmaes_growth", methods.cmaes.growth);
    // The automatic rate is the absence of a rate: a script gains the key only for a chosen one.
    if (named("METHOD", "cmaes_mean_rate", cmaes && methods.cmaes.meanRate > 0))
        script->WriteFloat("METHOD", "cmaes_mean_rate", methods.cmaes.meanRate);
    if (named("METHOD", "de_f", de))
        script->WriteFloat("METHOD", "de_f", methods.de.f);
    if (named("METHOD", "de_cr", de))
        script->WriteFloat("METHOD", "de_cr", methods.de.cr);
    if (named("METHOD", "de_adaptation", de))
        script->WriteFloat("METHOD", "de_adaptation", methods.de.adaptation);
    if (named("METHOD", "trust_radius", trust))
        script->WriteFloat("METHOD", "trust_radius", methods.trust.radius);
    // Like the automatic rate: no refinement is the absence of the key.
    if (named("METHOD", "trust_after", methods.trust.after > 0))
        script->WriteFloat("METHOD", "trust_after", methods.trust.after);
}

} // namespace zyl
