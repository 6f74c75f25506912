#include "shell/InitialiseDialog.h"

#include "common/Exception.h"
#include "common/TextConvert.h"
#include "expr/Parser.h"
#include "expr/Tensor.h"
#include "script/ProjectScript.h"
#include "shell/ConsoleWindow.h"
#include "shell/HelpWindow.h"
#include "shell/Messages.h"
#include "windows/InPlaceEditing.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cctype>

namespace zyl {

namespace {

/// Only the first column (the name) of the dialog's lists is edited in place; the other
/// columns describe what the row holds and change only through Add and Remove.
class NameColumnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        if (index.column() != 0)
            return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
};

QTreeWidget* makeList(QWidget* parent, const QStringList& headers)
{
    QTreeWidget* list = new InPlaceEditing<QTreeWidget>(parent);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::SelectedClicked);
    list->setItemDelegate(new NameColumnDelegate(list));
    return list;
}

QTreeWidgetItem* appendRow(QTreeWidget* list, const QStringList& texts)
{
    auto* item = new QTreeWidgetItem(list, texts);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    return item;
}

void removeSelectedRow(QTreeWidget* list)
{
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (!selected.isEmpty())
        delete selected.front();
}

std::string text(const QLineEdit* edit) { return edit->text().toStdString(); }

/// The key of a list row: its name, or `prefix` and the row's position from 1 when unnamed.
std::string rowKey(const QTreeWidgetItem* item, int index, const char* prefix)
{
    const std::string name = item->text(0).toStdString();
    return name.empty() ? prefix + std::to_string(index + 1) : name;
}

QLineEdit* lineEdit(QWidget* parent, const QString& content)
{
    auto* edit = new QLineEdit(content, parent);
    return edit;
}

} // namespace

TOKBottomDlg::TOKBottomDlg(std::unique_ptr<ProjectScript>& currentScript, TIOconsole& console,
                           QWidget* parent)
    : QDialog(parent), m_currentScript(currentScript), m_console(console)
{
    setObjectName(QStringLiteral("OKBottomDlg"));
    setWindowTitle(QStringLiteral("Initialise"));
    Form5 = new TForm5(this);

    PageControl1 = new QTabWidget(this);
    TabSheetVariables = createVariablesPage();
    TabSheetFunction = createFunctionPage();
    TabSheetGeneral = createGeneralPage();
    TabSheetPlots = createPlotsPage();
    TabSheetExport = createExportPage();
    TabSheetConstraints = createConstraintsPage();
    TabSheetObjectives = createObjectivesPage();
    PageControl1->addTab(TabSheetVariables, QStringLiteral("Variables"));
    PageControl1->addTab(TabSheetFunction, QStringLiteral("Function"));
    PageControl1->addTab(TabSheetObjectives, QStringLiteral("Objectives"));
    PageControl1->addTab(TabSheetConstraints, QStringLiteral("Constraints"));
    PageControl1->addTab(TabSheetGeneral, QStringLiteral("General"));
    PageControl1->addTab(TabSheetPlots, QStringLiteral("Plots"));
    PageControl1->addTab(TabSheetExport, QStringLiteral("Export"));
    PageControl1->setCurrentWidget(TabSheetPlots);

    auto* buttons = new QDialogButtonBox(this);
    OKBtn = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    CancelBtn = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TOKBottomDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addWidget(buttons);
    resize(460, 380);

    for (QLineEdit* field : {EditIntegerFrom, EditIntegerTo, EditRealFrom, EditRealTo,
                             EditConstraint, EditObjective, EditPlot, EditExport})
        field->installEventFilter(this);
}

QPushButton* TOKBottomDlg::addButtonOf(const QObject* field) const
{
    if (field == EditIntegerFrom || field == EditIntegerTo || field == EditRealFrom ||
        field == EditRealTo)
        return ButtonAddVar;
    if (field == EditConstraint)
        return ButtonAddConstraint;
    if (field == EditObjective)
        return ButtonAddObjective;
    if (field == EditPlot)
        return ButtonAddPlot;
    if (field == EditExport)
        return ButtonAddExport;
    return nullptr;
}

bool TOKBottomDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The field would pass Enter on to the dialog, whose default button is OK: the task would
    // be made without the row just typed, and the text left in the field.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (QPushButton* add = addButtonOf(watched)) {
                add->click();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

QWidget* TOKBottomDlg::createVariablesPage()
{
    auto* page = new QWidget(this);
    auto* typeGroup = new QGroupBox(QStringLiteral("Variable type"), page);
    RadioButtonBoolean = new QRadioButton(QStringLiteral("Boolean"), typeGroup);
    RadioButtonInteger = new QRadioButton(QStringLiteral("Integer"), typeGroup);
    RadioButtonReal = new QRadioButton(QStringLiteral("Real"), typeGroup);
    RadioButtonReal->setChecked(true);
    EditIntegerFrom = lineEdit(typeGroup, QString());
    EditIntegerTo = lineEdit(typeGroup, QString());
    EditRealFrom = lineEdit(typeGroup, QStringLiteral("0"));
    EditRealTo = lineEdit(typeGroup, QStringLiteral("3.1415"));
    EditIntegerFrom->setEnabled(false);
    EditIntegerTo->setEnabled(false);

    auto* grid = new QGridLayout(typeGroup);
    grid->addWidget(RadioButtonBoolean, 0, 0);
    grid->addWidget(RadioButtonInteger, 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("from"), typeGroup), 1, 1);
    grid->addWidget(EditIntegerFrom, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("to"), typeGroup), 1, 3);
    grid->addWidget(EditIntegerTo, 1, 4);
    grid->addWidget(RadioButtonReal, 2, 0);
    grid->addWidget(new QLabel(QStringLiteral("from"), typeGroup), 2, 1);
    grid->addWidget(EditRealFrom, 2, 2);
    grid->addWidget(new QLabel(QStringLiteral("to"), typeGroup), 2, 3);
    grid->addWidget(EditRealTo, 2, 4);
    for (QRadioButton* radio : {RadioButtonBoolean, RadioButtonInteger, RadioButtonReal})
        connect(radio, &QRadioButton::clicked, this, &TOKBottomDlg::RadioButtonVariableTypeClick);

    ButtonAddVar = new QPushButton(QStringLiteral("Add"), page);
    ButtonRemoveVar = new QPushButton(QStringLiteral("Remove"), page);
    connect(ButtonAddVar, &QPushButton::clicked, this, &TOKBottomDlg::ButtonAddVarClick);
    connect(ButtonRemoveVar, &QPushButton::clicked, this, &TOKBottomDlg::ButtonRemoveVarClick);
    ListViewVariables = makeList(
        page, {QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Range")});

    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->addWidget(ButtonAddVar);
    buttonColumn->addWidget(ButtonRemoveVar);
    buttonColumn->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(typeGroup, 1);
    top->addLayout(buttonColumn);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(ListViewVariables, 1);
    return page;
}

QWidget* TOKBottomDlg::createFunctionPage()
{
    auto* page = new QWidget(this);
    RadioButtonManual = new QRadioButton(QStringLiteral("Manual"), page);
    RadioButtonAnalytical = new QRadioButton(QStringLiteral("Analytical"), page);
    RadioButtonExternal = new QRadioButton(QStringLiteral("External"), page);
    RadioButtonAnalytical->setChecked(true);
    for (QRadioButton* radio : {RadioButtonManual, RadioButtonAnalytical, RadioButtonExternal})
        connect(radio, &QRadioButton::clicked, this, &TOKBottomDlg::RadioButtonFunctionClick);

    EditFormula =
        lineEdit(page, QStringLiteral("-5.*sin(x1)*sin(x2) - sin(5*x1)*sin(5*x2)"));
    ButtonIO = new QPushButton(QStringLiteral("I/O"), page);
    connect(ButtonIO, &QPushButton::clicked, this, &TOKBottomDlg::ButtonIOClick);
    EditInputName = lineEdit(page, QStringLiteral("input.txt"));
    EditExternalName = lineEdit(page, QStringLiteral("external.exe"));
    EditOutputName = lineEdit(page, QStringLiteral("output.txt"));
    for (QLineEdit* edit : {EditInputName, EditExternalName, EditOutputName})
        edit->setEnabled(false);

    auto* formula = new QHBoxLayout;
    formula->addWidget(new QLabel(QStringLiteral("f(...)="), page));
    formula->addWidget(EditFormula, 1);
    formula->addWidget(ButtonIO);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(RadioButtonManual);
    layout->addWidget(RadioButtonAnalytical);
    layout->addLayout(formula);
    layout->addWidget(RadioButtonExternal);
    layout->addWidget(
        new QLabel(QStringLiteral("Data for external  program (variables from ZYL)"), page));
    layout->addWidget(EditInputName);
    layout->addWidget(new QLabel(QStringLiteral("External program"), page));
    layout->addWidget(EditExternalName);
    layout->addWidget(
        new QLabel(QStringLiteral("Data from external program (value of function for ZYL)"), page));
    layout->addWidget(EditOutputName);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg::createGeneralPage()
{
    auto* page = new QWidget(this);
    CheckBoxStatisticHistory = new QCheckBox(QStringLiteral("Statistics history"), page);
    CheckBoxBufferIndividuals = new QCheckBox(QStringLiteral("Buffer individuals"), page);
    CheckBoxShowBuffered = new QCheckBox(QStringLiteral("Show buffered"), page);
    CheckBoxShowPopulation = new QCheckBox(QStringLiteral("Show population"), page);
    CheckBoxPopulationHistory = new QCheckBox(QStringLiteral("Population history"), page);
    CheckBoxShowVariables = new QCheckBox(QStringLiteral("Show variables"), page);
    UpDownPopSize = new QSpinBox(page);
    UpDownPopSize->setRange(2, 1000);
    UpDownPopSize->setSingleStep(2);
    UpDownPopSize->setValue(20);

    auto* size = new QHBoxLayout;
    size->addWidget(new QLabel(QStringLiteral("(Initial) population size"), page));
    size->addWidget(UpDownPopSize);
    size->addStretch();

    auto* layout = new QVBoxLayout(page);
    for (QCheckBox* box : {CheckBoxStatisticHistory, CheckBoxBufferIndividuals,
                           CheckBoxShowBuffered, CheckBoxShowPopulation,
                           CheckBoxPopulationHistory, CheckBoxShowVariables})
        layout->addWidget(box);
    layout->addLayout(size);
    layout->addStretch();
    return page;
}

QWidget* TOKBottomDlg::createPlotsPage()
{
    auto* page = new QWidget(this);
    EditPlot = lineEdit(page, QString());
    ListViewPlots = makeList(page, {QStringLiteral("Name"), QStringLiteral("Plot")});
    appendRow(ListViewPlots, {QStringLiteral("Convergence"), QStringLiteral("Average;CurrentMin")});
    ButtonAddPlot = new QPushButton(QStringLiteral("Add"), page);
    ButtonRemovePlot = new QPushButton(QStringLiteral("Remove"), page);
    ButtonHelpPlot = new QPushButton(QStringLiteral("?"), page);
    connect(ButtonAddPlot, &QPushButton::clicked, this, &TOKBottomDlg::ButtonAddPlotClick);
    connect(ButtonRemovePlot, &QPushButton::clicked, this, &TOKBottomDlg::ButtonRemovePlotClick);
    connect(ButtonHelpPlot, &QPushButton::clicked, this, &TOKBottomDlg::ButtonHelpClick);

    auto* field = new QHBoxLayout;
    field->addWidget(new QLabel(QStringLiteral("Plot"), page));
    field->addWidget(EditPlot, 1);
    field->addWidget(ButtonAddPlot);
    field->addWidget(ButtonRemovePlot);
    field->addWidget(ButtonHelpPlot);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(field);
    layout->addWidget(ListViewPlots, 1);
    return page;
}

QWidget* TOKBottomDlg::createConstraintsPage()
{
    auto* page = new QWidget(this);
    EditConstraint = lineEdit(page, QString());
    ListViewConstraints =
        makeList(page, {QStringLiteral("Name"), QStringLiteral("Constraint (<= 0)")});
    ButtonAddConstraint = new QPushButton(QStringLiteral("Add"), page);
    ButtonRemoveConstraint = new QPushButton(QStringLiteral("Remove"), page);
    connect(ButtonAddConstraint, &QPushButton::clicked, this,
            &TOKBottomDlg::ButtonAddConstraintClick);
    connect(ButtonRemoveConstraint, &QPushButton::clicked, this,
            [this] { removeSelectedRow(ListViewConstraints); });
    auto* field = new QHBoxLayout;
    field->addWidget(new QLabel(QStringLiteral("g(...)="), page));
    field->addWidget(EditConstraint, 1);
    field->addWidget(ButtonAddConstraint);
    field->addWidget(ButtonRemoveConstraint);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(field);
    layout->addWidget(ListViewConstraints, 1);
    layout->addWidget(new QLabel(
        QStringLiteral("A design is feasible when every constraint is at most 0."), page));
    return page;
}

void TOKBottomDlg::ButtonAddConstraintClick()
{
    if (EditConstraint->text().isEmpty())
        return;
    appendRow(ListViewConstraints, {QString(), EditConstraint->text()});
    EditConstraint->clear();
}

QWidget* TOKBottomDlg::createObjectivesPage()
{
    auto* page = new QWidget(this);
    EditObjective = lineEdit(page, QString());
    CheckBoxMaximiseObjective = new QCheckBox(QStringLiteral("Maximise"), page);
    ListViewObjectives = makeList(
        page, {QStringLiteral("Name"), QStringLiteral("Objective"), QStringLiteral("Maximised")});
    ButtonAddObjective = new QPushButton(QStringLiteral("Add"), page);
    ButtonRemoveObjective = new QPushButton(QStringLiteral("Remove"), page);
    UpDownExternalObjectives = new QSpinBox(page);
    UpDownExternalObjectives->setRange(0, 1000);
    UpDownExternalObjectives->setEnabled(false);
    connect(ButtonAddObjective, &QPushButton::clicked, this,
            &TOKBottomDlg::ButtonAddObjectiveClick);
    connect(ButtonRemoveObjective, &QPushButton::clicked, this,
            [this] { removeSelectedRow(ListViewObjectives); });
    // The formula f is needed only while there are fewer than two objectives.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(ListViewObjectives->model(), signal, this, &TOKBottomDlg::RadioButtonFunctionClick);
    connect(UpDownExternalObjectives, &QSpinBox::valueChanged, this,
            &TOKBottomDlg::RadioButtonFunctionClick);

    auto* field = new QHBoxLayout;
    field->addWidget(new QLabel(QStringLiteral("f(...)="), page));
    field->addWidget(EditObjective, 1);
    field->addWidget(CheckBoxMaximiseObjective);
    field->addWidget(ButtonAddObjective);
    field->addWidget(ButtonRemoveObjective);
    auto* external = new QHBoxLayout;
    external->addWidget(
        new QLabel(QStringLiteral("Objective values the external program writes"), page));
    external->addWidget(UpDownExternalObjectives);
    external->addStretch();
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(field);
    layout->addWidget(ListViewObjectives, 1);
    layout->addLayout(external);
    auto* note = new QLabel(
        QStringLiteral("Objectives are minimised unless marked maximised. With two objectives "
                       "or more the task searches for their Pareto front and needs no f."),
        page);
    note->setWordWrap(true);
    layout->addWidget(note);
    return page;
}

void TOKBottomDlg::ButtonAddObjectiveClick()
{
    if (EditObjective->text().isEmpty())
        return;
    QTreeWidgetItem* row = appendRow(ListViewObjectives, {QString(), EditObjective->text()});
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(2, CheckBoxMaximiseObjective->isChecked() ? Qt::Checked : Qt::Unchecked);
    EditObjective->clear();
}

int TOKBottomDlg::objectiveCount() const
{
    return ListViewObjectives->topLevelItemCount() +
           (RadioButtonExternal->isChecked() ? UpDownExternalObjectives->value() : 0);
}

QWidget* TOKBottomDlg::createExportPage()
{
    auto* page = new QWidget(this);
    EditExport = lineEdit(page, QString());
    ListViewExport = makeList(page, {QStringLiteral("Name"), QStringLiteral("Export")});
    ButtonAddExport = new QPushButton(QStringLiteral("Add"), page);
    ButtonRemoveExport = new QPushButton(QStringLiteral("Remove"), page);
    ButtonHelpExport = new QPushButton(QStringLiteral("?"), page);
    EditExportName = lineEdit(page, QString());
    CheckBoxEveryIteration = new QCheckBox(QStringLiteral("Every iteration"), page);
    connect(ButtonAddExport, &QPushButton::clicked, this, &TOKBottomDlg::ButtonAddExportClick);
    connect(ButtonRemoveExport, &QPushButton::clicked, this,
            &TOKBottomDlg::ButtonRemoveExportClick);
    connect(ButtonHelpExport, &QPushButton::clicked, this, &TOKBottomDlg::ButtonHelpClick);

    auto* field = new QHBoxLayout;
    field->addWidget(new QLabel(QStringLiteral("Export"), page));
    field->addWidget(EditExport, 1);
    field->addWidget(ButtonAddExport);
    field->addWidget(ButtonRemoveExport);
    field->addWidget(ButtonHelpExport);
    auto* file = new QHBoxLayout;
    file->addWidget(new QLabel(QStringLiteral("Export file name"), page));
    file->addWidget(EditExportName, 1);
    file->addWidget(CheckBoxEveryIteration);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(field);
    layout->addWidget(ListViewExport, 1);
    layout->addLayout(file);
    return page;
}

void TOKBottomDlg::showEvent(QShowEvent* event)
{
    // Restoring a minimised dialog also shows it; only a real opening starts a new script.
    if (!event->spontaneous()) {
        FormShow();
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}

void TOKBottomDlg::FormShow() { m_currentScript = std::make_unique<ProjectScript>(); }

void TOKBottomDlg::reject()
{
    m_currentScript.reset();
    QDialog::reject();
}

void TOKBottomDlg::done(int result)
{
    Form5->hide();
    QDialog::done(result);
}

bool TOKBottomDlg::refuseBuiltinName()
{
    // The loader refuses such a name only once the dialog has closed; here the row can still
    // be renamed.
    SymbolTable builtins;
    builtins.registerBuiltinSymbols();
    struct NamedRows {
        QWidget* page;
        QTreeWidget* list;
        const char* prefix;
        const char* kind;
    };
    const NamedRows lists[] = {{TabSheetObjectives, ListViewObjectives, "f", "Objective"},
                               {TabSheetConstraints, ListViewConstraints, "c", "Constraint"}};
    for (const NamedRows& rows : lists)
        for (int i = 0; i < rows.list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = rows.list->topLevelItem(i);
            const std::string name = rowKey(row, i, rows.prefix);
            int code = 0, level = 0;
            const bool function = !name.empty() &&
                                  std::isalpha(static_cast<unsigned char>(name[0])) &&
                                  lookupToken(name, code, level);
            if (!function && !builtins.lookup(name))
                continue;
            PageControl1->setCurrentWidget(rows.page);
            rows.list->setCurrentItem(row);
            warningBox(this, QStringLiteral("%1 name %2 is a built-in name of the language")
                                 .arg(QString::fromLatin1(rows.kind),
                                      QString::fromStdString(name)));
            return true;
        }
    return false;
}

void TOKBottomDlg::OKBtnClick()
{
    if (refuseBuiltinName())
        return;
    if (!m_currentScript)
        m_currentScript = std::make_unique<ProjectScript>();
    try {
        if (writeScript(*m_currentScript))
            QDialog::accept();
    } catch (const Exception& error) {
        // A name the user typed that the script cannot hold (one with "=", for example).
        warningBox(this, QString::fromStdString(error.what()));
    }
}

bool TOKBottomDlg::writeScript(ProjectScript& script)
{
    // 1-2. Exports, and their file only when there is something to export.
    const int exports = ListViewExport->topLevelItemCount();
    for (int i = 0; i < exports; ++i) {
        const QTreeWidgetItem* row = ListViewExport->topLevelItem(i);
        script.WriteString("EXPORT", rowKey(row, i, "export"), row->text(1).toStdString());
    }
    if (exports > 0) {
        script.WriteString("EXPORT_NAMES", "export_name", text(EditExportName));
        script.WriteBool("EXPORT_NAMES", "export_every_iteration",
                         CheckBoxEveryIteration->isChecked());
    }

    // 3. Plots.
    for (int i = 0; i < ListViewPlots->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListViewPlots->topLevelItem(i);
        script.WriteString("PLOTS", rowKey(row, i, "plot"), row->text(1).toStdString());
    }

    // Constraints, for every kind of objective.
    for (int i = 0; i < ListViewConstraints->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListViewConstraints->topLevelItem(i);
        script.WriteString("CONSTRAINTS", rowKey(row, i, "c"), row->text(1).toStdString());
    }

    // Objectives, and which of them are maximised; a task without them gains no key.
    std::string maximised;
    for (int i = 0; i < ListViewObjectives->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ListViewObjectives->topLevelItem(i);
        const std::string key = rowKey(row, i, "f");
        script.WriteString("OBJECTIVES", key, row->text(1).toStdString());
        if (row->checkState(2) == Qt::Checked)
            maximised += (maximised.empty() ? "" : ";") + key;
    }
    if (!maximised.empty())
        script.WriteString("OPTIONS", "maximised_objectives", maximised);

    // 4-5. Windows, buffer and population size.
    script.WriteBool("SHOW", "statistic_history", CheckBoxStatisticHistory->isChecked());
    script.WriteBool("SHOW", "buffered", CheckBoxShowBuffered->isChecked());
    script.WriteBool("SHOW", "population", CheckBoxShowPopulation->isChecked());
    script.WriteBool("SHOW", "population_history", CheckBoxPopulationHistory->isChecked());
    script.WriteBool("SHOW", "variables", CheckBoxShowVariables->isChecked());
    script.WriteBool("SHOW", "buffer_individuals", CheckBoxBufferIndividuals->isChecked());
    script.WriteInteger("POPULATION", "size", UpDownPopSize->value());

    // 6. The function.
    if (RadioButtonManual->isChecked()) {
        script.WriteBool("FUNCTION", "manual", true);
    } else if (RadioButtonAnalytical->isChecked()) {
        script.WriteBool("FUNCTION", "analytical", true);
        // Several objectives replace f; the field's formula is not theirs.
        if (!EditFormula->text().isEmpty() && objectiveCount() < 2)
            script.WriteString("EQUATIONS", "f", text(EditFormula));
    } else if (RadioButtonExternal->isChecked()) {
        script.WriteBool("FUNCTION", "external", true);
        script.WriteString("FUNCTION", "input_name", text(EditInputName));
        script.WriteString("FUNCTION", "external_name", text(EditExternalName));
        script.WriteString("FUNCTION", "output_name", text(EditOutputName));
        if (UpDownExternalObjectives->value() > 0)
            script.WriteInteger("FUNCTION", "external_objectives",
                                UpDownExternalObjectives->value());
    }

    // 7-8. Variables. What was written above stays; a second OK writes it over the same keys.
    const int variables = ListViewVariables->topLevelItemCount();
    if (variables == 0) {
        warningBox(this, QStringLiteral("Variable list is empty!"));
        return false;
    }
    for (int i = 0; i < variables; ++i) {
        const QTreeWidgetItem* row = ListViewVariables->topLevelItem(i);
        script.WriteString("VARIABLES", rowKey(row, i, "x"),
                           row->data(0, Qt::UserRole).toString().toStdString());
    }
    return true;
}

void TOKBottomDlg::ButtonAddVarClick()
{
    QString type, range, typeText;
    try {
        if (RadioButtonBoolean->isChecked()) {
            type = QStringLiteral("Boolean");
            range = QStringLiteral("{0, 1}");
            typeText = QStringLiteral("boolean");
        } else if (RadioButtonInteger->isChecked()) {
            const QString from = EditIntegerFrom->text(), to = EditIntegerTo->text();
            if (strToInt(from.toStdString()) >= strToInt(to.toStdString()))
                return;
            type = QStringLiteral("Integer");
            range = QStringLiteral("[%1; %2]").arg(from, to);
            typeText = QStringLiteral("integer[%1;%2]").arg(from, to);
        } else {
            const QString from = EditRealFrom->text(), to = EditRealTo->text();
            if (!(strToFloat(from.toStdString()) < strToFloat(to.toStdString())))
                return;
            type = QStringLiteral("Real");
            range = QStringLiteral("[%1; %2]").arg(from, to);
            typeText = QStringLiteral("real[%1;%2]").arg(from, to);
        }
    } catch (const Exception& error) {
        warningBox(this, QString::fromStdString(error.what()));
        return;
    }
    QTreeWidgetItem* row = appendRow(ListViewVariables, {QString(), type, range});
    row->setData(0, Qt::UserRole, typeText);
}

void TOKBottomDlg::ButtonRemoveVarClick() { removeSelectedRow(ListViewVariables); }

void TOKBottomDlg::ButtonAddPlotClick()
{
    if (EditPlot->text().isEmpty())
        return;
    appendRow(ListViewPlots, {QString(), EditPlot->text()});
    EditPlot->clear();
}

void TOKBottomDlg::ButtonRemovePlotClick() { removeSelectedRow(ListViewPlots); }

void TOKBottomDlg::ButtonAddExportClick()
{
    if (EditExport->text().isEmpty())
        return;
    appendRow(ListViewExport, {QString(), EditExport->text()});
    EditExport->clear();
}

void TOKBottomDlg::ButtonRemoveExportClick() { removeSelectedRow(ListViewExport); }

void TOKBottomDlg::ButtonIOClick()
{
    m_console.exec();
    // OK writes the field over EQUATIONS f: it shows the f defined in the console, or keeps
    // the formula it had.
    if (m_currentScript && m_currentScript->HasKey("EQUATIONS", "f"))
        EditFormula->setText(
            QString::fromStdString(m_currentScript->ReadString("EQUATIONS", "f", "")));
}

void TOKBottomDlg::ButtonHelpClick()
{
    Form5->showBeside(this);
}

void TOKBottomDlg::RadioButtonVariableTypeClick()
{
    const bool integer = RadioButtonInteger->isChecked();
    const bool real = RadioButtonReal->isChecked();
    EditIntegerFrom->setEnabled(integer);
    EditIntegerTo->setEnabled(integer);
    EditRealFrom->setEnabled(real);
    EditRealTo->setEnabled(real);
}

void TOKBottomDlg::RadioButtonFunctionClick()
{
    const bool analytical = RadioButtonAnalytical->isChecked();
    const bool external = RadioButtonExternal->isChecked();
    // The console stays open to several objectives: their formulas may use its definitions.
    EditFormula->setEnabled(analytical && objectiveCount() < 2);
    ButtonIO->setEnabled(analytical);
    for (QLineEdit* edit : {EditInputName, EditExternalName, EditOutputName})
        edit->setEnabled(external);
    UpDownExternalObjectives->setEnabled(external);
}

} // namespace zyl
