#pragma once

#include "windows/RecordTables.h"

#include <QWidget>

#include <functional>

class QTableView;

namespace zyl {

class RunObserver;
class ZYL;
struct ProjectSettings;

/// The Population window: the individuals of the current generation (with the population
/// history, of every generation, each block closed by an empty row). In a manual task the
/// caption column is where the user types each individual's value.
class TForm2 : public QWidget {
    Q_OBJECT
  public:
    /// What the manual entry needs from its surroundings.
    struct Hooks {
        /// Shows a warning box with the text.
        std::function<void(const QString&)> warning;
        /// Every individual has its value: start the run that processes the generation.
        std::function<void()> runWhenComplete;
        /// Told about buffer entries the manual entry records.
        RunObserver* observer = nullptr;
        /// Individual `index` has taken a typed value (to count it, and to record it).
        std::function<void(int index)> valueTyped;
        /// No value can be typed (another process writes the project's run store).
        bool readOnly = false;
    };

    /// The caption column is editable when the task is manual.
    TForm2(ZYL& zyl, const ProjectSettings& settings, Hooks hooks, QWidget* parent = nullptr);

    /// Adds one row per individual of the population and a separator row; without
    /// `keepHistory` the rows of earlier generations are removed first.
    void fillPopulationList(bool keepHistory);
    /// The caption of individual `index` of the current generation shows its value. Without
    /// `announce` the list is not repainted until showNotedValues.
    void showEvaluatedValue(int index, bool announce = true);
    /// Repaints the captions given by showEvaluatedValue without announcing them.
    void showNotedValues();
    /// The user typed `text` into the caption of `row`: a "?" row of the current generation
    /// gives its individual that value (other rows take none, and stay as they are); once all
    /// are evaluated the run goes on.
    void ListView1Edited(int row, const QString& text);

    IndividualTableModel& model() { return m_model; }
    QSize sizeHint() const override { return {544, 375}; }

    QTableView* ListView1;

  private:
    /// The index of the individual shown in `row`, or -1 for a row of an earlier generation
    /// or a separator.
    int individualOfRow(int row) const;
    /// Whether `row` shows an individual of the current generation still awaiting its value:
    /// the only captions that take a typed value.
    bool takesValue(int row) const;

    ZYL& m_zyl;
    const ProjectSettings& m_settings;
    Hooks m_hooks;
    IndividualTableModel m_model;
    // Rows whose captions changed unannounced; first > last when none.
    int m_notedFirst = 1;
    int m_notedLast = 0;
};

} // namespace zyl
