#pragma once

// The list models behind the tabular result windows. A long run with history keeps one block
// of rows per generation (30000 generations of 1000 individuals are 30 million rows), so rows
// are kept as compact data and turned into text only for the rows a view paints; and new rows
// reach the views in batches, because each insertion notice costs a view work in proportion
// to all the rows it already has.

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QTableView;
class QWidget;

namespace zyl {

class Indiv;
class ZYL;

/// A table that only grows (or is emptied): rows are stored at once and announced to the
/// views by `flush`, in one insertion notice for all rows stored since the last one.
class AppendOnlyTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit AppendOnlyTableModel(QStringList headers, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    /// Rows stored, announced or not. Row numbers of the window logic count these.
    int storedRows() const { return m_stored; }
    /// Announces the stored rows now.
    void flush();
    /// Announces the stored rows at most once per `batchInterval`: at once when the last
    /// notice is older, otherwise when the interval is up. A slow run shows each row as it
    /// comes; a fast one costs the views a few notices a second instead of one a row.
    void commit();
    /// Removes every row, announced or not.
    void clear();
    /// Bytes of row storage (texts and numbers), for measurements.
    virtual std::size_t storageBytes() const = 0;

    static constexpr int batchInterval = 100; // milliseconds

  protected:
    /// For a subclass that has stored one more row.
    void rowStored() { ++m_stored; }
    virtual void clearStorage() = 0;
    bool isAnnounced(int row) const { return row >= 0 && row < m_announced; }

  private:
    QStringList m_headers;
    int m_stored = 0;
    int m_announced = 0;
    QTimer m_batchTimer;
    QElapsedTimer m_sinceNotice;
};

/// Rows of texts, one per column (the Statistics and Variables windows). All texts share one
/// buffer, so a row costs its characters and one offset per cell.
class TextTableModel : public AppendOnlyTableModel {
    Q_OBJECT
  public:
    explicit TextTableModel(QStringList headers, QObject* parent = nullptr);

    /// Stores a row; missing cells are empty, extra ones are dropped.
    void appendRow(const std::vector<std::string>& cells);
    /// Replaces every row by `rows` when their number is the number shown, telling the views
    /// of changed texts rather than of a new list (cheaper to repaint); false, and nothing
    /// done, otherwise.
    bool replaceRows(const std::vector<std::vector<std::string>>& rows);
    QString cellText(int row, int column) const;

    QVariant data(const QModelIndex& index, int role) const override;
    std::size_t storageBytes() const override;

  protected:
    void clearStorage() override;

  private:
    std::string m_text;
    /// End offset in m_text of every cell, row by row.
    std::vector<std::uint64_t> m_ends;
};

/// Rows of individuals (the Population and Buffered windows): the caption column "f" and one
/// column per variable. A row keeps its numbers, not their texts: a real is written by
/// realToText, a Boolean or integer variable as a decimal integer, when it is painted.
class IndividualTableModel : public AppendOnlyTableModel {
    Q_OBJECT
  public:
    /// Columns "f" and the variable names of `zyl`, and "Violation" in a constrained task; a
    /// column shows whole numbers unless its variable is real.
    explicit IndividualTableModel(const ZYL& zyl, QObject* parent = nullptr);

    /// Stores a row for `ind`: its value as caption when evaluated (or `valueKnown`),
    /// otherwise "?"; for a design ruled out before evaluation, why (screenedCaption).
    void appendIndividual(const Indiv& ind, bool valueKnown = false);
    /// Stores a row with an empty caption and no cells.
    void appendSeparator();
    /// Shows `individuals` in the rows from `first` on, which must all be individuals' rows
    /// announced already, telling the views of changed texts rather than of new rows, so that
    /// they keep their selection and scroll position; false, and nothing done, otherwise.
    bool replaceIndividuals(int first, const std::vector<Indiv>& individuals);

    /// The caption of a stored row becomes realToText(value). Without `announce` the views are
    /// not told; announceCaptions does it later for a range of rows at once.
    void setCaptionValue(int row, double value, bool announce = true);
    /// The violation a stored row shows beside its value (a constrained task only); the views
    /// learn it with the caption.
    void setViolation(int row, double violation);
    /// Tells the views that the captions of rows first .. last (those announced) have changed.
    void announceCaptions(int first, int last);
    /// The caption of a stored row becomes `text` as it stands.
    void setCaptionText(int row, const QString& text);
    /// The caption of a stored row says why `ind`, ruled out before evaluation, has no value
    /// ("ruled out by" and the constraints), its violation shown beside it.
    void setCaptionScreened(int row, const Indiv& ind, bool announce = true);
    QString cellText(int row, int column) const;

    /// Whether the views may edit the caption column; with `takesValue`, only the captions of
    /// the rows it accepts.
    void setCaptionEditable(bool editable, std::function<bool(int row)> takesValue = {})
    {
        m_editable = editable;
        m_takesValue = std::move(takesValue);
    }

    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// An edited caption shows the typed text and is reported by `captionEdited`.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    std::size_t storageBytes() const override;

  signals:
    /// The user has typed `text` into the caption of `row`.
    void captionEdited(int row, const QString& text);

  protected:
    void clearStorage() override;

  private:
    enum class Caption : std::uint8_t { Unknown, Value, Separator, Text, Screened };
    QString screenedCaption(const Indiv& ind) const;
    void captionChanged(int row);
    void writeIndividual(std::size_t row, const Indiv& ind, bool valueKnown);
    bool captionTakesValue(const QModelIndex& index) const;

    /// The columns whose texts change with a caption: the caption, and the violation.
    int lastCaptionColumn() const { return m_constrained ? m_stride - 1 : 0; }

    const ZYL& m_zyl;
    int m_stride;
    bool m_constrained = false;
    std::vector<bool> m_wholeNumbers;
    bool m_editable = false;
    std::function<bool(int row)> m_takesValue;
    /// Per row: the caption's kind; then m_stride numbers: the value and the variables.
    std::deque<Caption> m_captions;
    std::deque<double> m_numbers;
    /// Captions that are texts rather than values: typed ones, and why a design was ruled out.
    std::unordered_map<int, QString> m_texts;
};

/// A list view in report style filling its window: whole rows selected, one row at a time,
/// fixed row height (so that a long list needs no measuring), column titles not clickable.
/// `typedInto`: its cells are typed into in place (see InPlaceEditing).
QTableView* makeReportView(QAbstractItemModel* model, QWidget* parent, bool typedInto = false);

/// Lets `view` follow the end of its model: every announced block scrolls it to the last row,
/// unless the view has been scrolled back from the end.
void followEnd(QTableView* view);

} // namespace zyl
