#include "windows/PopulationWindow.h"

#include "common/TextConvert.h"
#include "engine/Task.h"
#include "engine/Zyl.h"
#include "script/ProjectSettings.h"

#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace zyl {

TForm2::TForm2(ZYL& zyl, const ProjectSettings& settings, Hooks hooks, QWidget* parent)
    : QWidget(parent), m_zyl(zyl), m_settings(settings), m_hooks(std::move(hooks)),
      m_model(zyl)
{
    setWindowTitle(QStringLiteral("Population"));
    ListView1 =
        makeReportView(&m_model, this, m_settings.functionMode == FunctionMode::Manual);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
    if (m_settings.functionMode == FunctionMode::Manual && !m_hooks.readOnly) {
        // Only the awaited values: a separator or a generation already processed has no
        // individual that a typed value would reach.
        m_model.setCaptionEditable(true, [this](int row) { return takesValue(row); });
        ListView1->setEditTriggers(QAbstractItemView::DoubleClicked |
                                   QAbstractItemView::EditKeyPressed |
                                   QAbstractItemView::AnyKeyPressed);
        // Queued: the handler may open a message box or start a run, neither of which
        // belongs inside the view's commit of the editor.
        connect(&m_model, &IndividualTableModel::captionEdited, this, &TForm2::ListView1Edited,
                Qt::QueuedConnection);
    }
    if (m_settings.populationHistory)
        followEnd(ListView1);
    resize(sizeHint());
}

void TForm2::fillPopulationList(bool keepHistory)
{
    // The block shown takes the new generation in place: the selected row and the scroll
    // position stay.
    if (!keepHistory && m_model.storedRows() == m_zyl.popSize + 1 &&
        m_model.replaceIndividuals(0, m_zyl.population)) {
        m_notedFirst = 1;
        m_notedLast = 0;
        return;
    }
    if (!keepHistory) {
        m_model.clear();
        m_notedFirst = 1;
        m_notedLast = 0;
    }
    for (const Indiv& ind : m_zyl.population)
        m_model.appendIndividual(ind);
    m_model.appendSeparator();
    // One block replaced is shown at once: waiting would show the emptied list meanwhile.
    if (keepHistory)
        m_model.commit();
    else
        m_model.flush();
}

int TForm2::individualOfRow(int row) const
{
    const int k = row + m_zyl.popSize - m_model.storedRows() + 1;
    return k >= 0 && k < m_zyl.popSize && row >= 0 ? k : -1;
}

bool TForm2::takesValue(int row) const
{
    const int k = individualOfRow(row);
    return k >= 0 && static_cast<std::size_t>(k) < m_zyl.population.size() &&
           !m_zyl.population[static_cast<std::size_t>(k)].evaluated;
}

void TForm2::showEvaluatedValue(int index, bool announce)
{
    if (index < 0 || index >= m_zyl.popSize)
        return;
    const int row = m_model.storedRows() - m_zyl.popSize - 1 + index;
    if (row < 0)
        return;
    const Indiv& ind = m_zyl.population[static_cast<std::size_t>(index)];
    if (ind.screened) {
        m_model.setCaptionScreened(row, ind, announce);
    } else {
        m_model.setViolation(row, ind.violation);
        m_model.setCaptionValue(row, ind.value, announce);
    }
    if (!announce) {
        if (m_notedFirst > m_notedLast) {
            m_notedFirst = m_notedLast = row;
        } else {
            m_notedFirst = std::min(m_notedFirst, row);
            m_notedLast = std::max(m_notedLast, row);
        }
    }
}

void TForm2::showNotedValues()
{
    if (m_notedFirst <= m_notedLast)
        m_model.announceCaptions(m_notedFirst, m_notedLast);
    m_notedFirst = 1;
    m_notedLast = 0;
}

void TForm2::ListView1Edited(int row, const QString& text)
{
    if (row < 0 || row >= m_model.storedRows() || !takesValue(row))
        return;
    m_model.setCaptionText(row, text);
    const int k = individualOfRow(row);
    double value = 0;
    try {
        value = strToFloat(text.toStdString());
    } catch (const std::exception& error) {
        m_model.setCaptionText(row, QStringLiteral("?"));
        if (m_hooks.warning)
            m_hooks.warning(QString::fromStdString(error.what()));
        return;
    }
    RunObserver fallback;
    enterManualValue(m_zyl, k, value, m_hooks.observer ? *m_hooks.observer : fallback);
    if (m_hooks.valueTyped)
        m_hooks.valueTyped(k);
    const bool complete = std::all_of(m_zyl.population.begin(), m_zyl.population.end(),
                                      [](const Indiv& ind) { return ind.evaluated; });
    if (complete && m_hooks.runWhenComplete)
        m_hooks.runWhenComplete();
}

} // namespace zyl
