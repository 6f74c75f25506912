#include "windows/RecordTables.h"

#include "common/TextConvert.h"
#include "engine/Indiv.h"
#include "engine/Zyl.h"
#include "windows/InPlaceEditing.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace zyl {

// ---- AppendOnlyTableModel ----

AppendOnlyTableModel::AppendOnlyTableModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), m_headers(std::move(headers))
{
    m_batchTimer.setSingleShot(true);
    connect(&m_batchTimer, &QTimer::timeout, this, &AppendOnlyTableModel::flush);
}

int AppendOnlyTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_announced;
}

int AppendOnlyTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant AppendOnlyTableModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_headers.size())
        return m_headers[section];
    return {};
}

void AppendOnlyTableModel::flush()
{
    m_batchTimer.stop();
    if (m_stored == m_announced)
        return;
    // NOTE: the new rows are in storage already; rowCount() reports m_announced, so the views
    // see the old count until endInsertRows, as the insertion protocol wants.
    beginInsertRows({}, m_announced, m_stored - 1);
    m_announced = m_stored;
    endInsertRows();
    m_sinceNotice.start();
}

void AppendOnlyTableModel::commit()
{
    if (m_batchTimer.isActive())
        return;
    const qint64 since = m_sinceNotice.isValid() ? m_sinceNotice.elapsed() : batchInterval;
    if (since >= batchInterval)
        flush();
    else
        m_batchTimer.start(static_cast<int>(batchInterval - since));
}

void AppendOnlyTableModel::clear()
{
    m_batchTimer.stop();
    beginResetModel();
    clearStorage();
    m_stored = 0;
    m_announced = 0;
    endResetModel();
}

// ---- TextTableModel ----

TextTableModel::TextTableModel(QStringList headers, QObject* parent)
    : AppendOnlyTableModel(std::move(headers), parent)
{
}

void TextTableModel::appendRow(const std::vector<std::string>& cells)
{
    const int columns = columnCount();
    for (int c = 0; c < columns; ++c) {
        if (static_cast<std::size_t>(c) < cells.size())
            m_text += cells[static_cast<std::size_t>(c)];
        m_ends.push_back(m_text.size());
    }
    rowStored();
}

bool TextTableModel::replaceRows(const std::vector<std::vector<std::string>>& rows)
{
    if (static_cast<int>(rows.size()) != storedRows() || storedRows() != rowCount() ||
        rows.empty())
        return false;
    const int columns = columnCount();
    std::string text;
    std::vector<std::uint64_t> ends;
    ends.reserve(m_ends.size());
    for (const std::vector<std::string>& cells : rows) {
        for (int c = 0; c < columns; ++c) {
            if (static_cast<std::size_t>(c) < cells.size())
                text += cells[static_cast<std::size_t>(c)];
            ends.push_back(text.size());
        }
    }
    m_text.swap(text);
    m_ends.swap(ends);
    emit dataChanged(index(0, 0), index(storedRows() - 1, columns - 1), {Qt::DisplayRole});
    return true;
}

QString TextTableModel::cellText(int row, int column) const
{
    const int columns = columnCount();
    if (row < 0 || row >= storedRows() || column < 0 || column >= columns)
        return {};
    const std::size_t cell = static_cast<std::size_t>(row) * columns + column;
    const std::uint64_t begin = cell == 0 ? 0 : m_ends[cell - 1];
    return QString::fromUtf8(m_text.data() + begin,
                             static_cast<qsizetype>(m_ends[cell] - begin));
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !isAnnounced(index.row()))
        return {};
    return cellText(index.row(), index.column());
}

std::size_t TextTableModel::storageBytes() const
{
    return m_text.capacity() + m_ends.capacity() * sizeof(std::uint64_t);
}

void TextTableModel::clearStorage()
{
    // Give the memory back: a cleared list of a long run may have held many megabytes.
    std::string().swap(m_text);
    std::vector<std::uint64_t>().swap(m_ends);
}

// ---- IndividualTableModel ----

namespace {

QStringList individualHeaders(const ZYL& zyl)
{
    QStringList headers{QStringLiteral("f")};
    for (const std::string& name : zyl.names)
        headers << QString::fromStdString(name);
    if (zyl.constrained())
        headers << QStringLiteral("Violation");
    return headers;
}

} // namespace

IndividualTableModel::IndividualTableModel(const ZYL& zyl, QObject* parent)
    : AppendOnlyTableModel(individualHeaders(zyl), parent), m_zyl(zyl),
      m_stride(1 + static_cast<int>(zyl.names.size()) + (zyl.constrained() ? 1 : 0)),
      m_constrained(zyl.constrained())
{
    for (int j = 0; j < static_cast<int>(zyl.names.size()); ++j) {
        const Variable_* gene = j < zyl.templateIndiv.count() ? zyl.templateIndiv.gene(j) : nullptr;
        m_wholeNumbers.push_back(gene && !dynamic_cast<const Floating_*>(gene));
    }
}

void IndividualTableModel::appendIndividual(const Indiv& ind, bool valueKnown)
{
    m_captions.emplace_back();
    m_numbers.resize(m_numbers.size() + static_cast<std::size_t>(m_stride));
    writeIndividual(m_captions.size() - 1, ind, valueKnown);
    rowStored();
}

void IndividualTableModel::writeIndividual(std::size_t row, const Indiv& ind, bool valueKnown)
{
    m_captions[row] = ind.evaluated || valueKnown ? Caption::Value : Caption::Unknown;
    auto number = m_numbers.begin() + static_cast<std::ptrdiff_t>(row * m_stride);
    *number++ = ind.value;
    const int variables = m_stride - 1 - (m_constrained ? 1 : 0);
    for (int j = 0; j < variables; ++j) {
        const Variable_* gene = j < ind.count() ? ind.gene(j) : nullptr;
        *number++ = gene ? gene->getValue() : std::numeric_limits<double>::quiet_NaN();
    }
    if (m_constrained)
        *number = ind.violation;
    if (ind.screened) {
        m_captions[row] = Caption::Screened;
        m_texts[static_cast<int>(row)] = screenedCaption(ind);
    }
}

bool IndividualTableModel::replaceIndividuals(int first, const std::vector<Indiv>& individuals)
{
    const int last = first + static_cast<int>(individuals.size()) - 1;
    if (individuals.empty() || first < 0 || last >= rowCount() || storedRows() != rowCount())
        return false;
    for (int row = first; row <= last; ++row)
        if (m_captions[static_cast<std::size_t>(row)] == Caption::Separator)
            return false;
    for (std::size_t k = 0; k < individuals.size(); ++k) {
        const int row = first + static_cast<int>(k);
        // Before the row is written: a screened design writes its own text.
        if (!m_texts.empty())
            m_texts.erase(row);
        writeIndividual(static_cast<std::size_t>(row), individuals[k], false);
    }
    emit dataChanged(index(first, 0), index(last, m_stride - 1), {Qt::DisplayRole});
    return true;
}

QString IndividualTableModel::screenedCaption(const Indiv& ind) const
{
    return QStringLiteral("ruled out by ") + QString::fromStdString(m_zyl.ruledOutBy(ind));
}

void IndividualTableModel::setCaptionScreened(int row, const Indiv& ind, bool announce)
{
    if (row < 0 || row >= storedRows())
        return;
    setViolation(row, ind.violation);
    m_captions[static_cast<std::size_t>(row)] = Caption::Screened;
    m_texts[row] = screenedCaption(ind);
    if (announce)
        captionChanged(row);
}

void IndividualTableModel::appendSeparator()
{
    m_captions.push_back(Caption::Separator);
    // No numbers: a separator whose caption is edited still shows empty variable cells.
    m_numbers.resize(m_numbers.size() + static_cast<std::size_t>(m_stride),
                     std::numeric_limits<double>::quiet_NaN());
    rowStored();
}

void IndividualTableModel::setCaptionValue(int row, double value, bool announce)
{
    if (row < 0 || row >= storedRows())
        return;
    m_captions[static_cast<std::size_t>(row)] = Caption::Value;
    m_numbers[static_cast<std::size_t>(row) * m_stride] = value;
    if (!m_texts.empty())
        m_texts.erase(row);
    if (announce)
        captionChanged(row);
}

void IndividualTableModel::setViolation(int row, double violation)
{
    if (!m_constrained || row < 0 || row >= storedRows())
        return;
    m_numbers[static_cast<std::size_t>(row) * m_stride + static_cast<std::size_t>(m_stride - 1)] =
        violation;
}

void IndividualTableModel::announceCaptions(int first, int last)
{
    first = std::max(first, 0);
    last = std::min(last, rowCount() - 1);
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, lastCaptionColumn()), {Qt::DisplayRole});
}

void IndividualTableModel::setCaptionText(int row, const QString& text)
{
    if (row < 0 || row >= storedRows())
        return;
    m_captions[static_cast<std::size_t>(row)] = Caption::Text;
    m_texts[row] = text;
    captionChanged(row);
}

void IndividualTableModel::captionChanged(int row)
{
    if (isAnnounced(row))
        emit dataChanged(index(row, 0), index(row, lastCaptionColumn()), {Qt::DisplayRole});
}

QString IndividualTableModel::cellText(int row, int column) const
{
    if (row < 0 || row >= storedRows() || column < 0 || column >= m_stride)
        return {};
    const std::size_t r = static_cast<std::size_t>(row);
    const Caption caption = m_captions[r];
    if (caption == Caption::Separator)
        return {};
    if (column == 0) {
        switch (caption) {
        case Caption::Unknown:
            return QStringLiteral("?");
        case Caption::Text:
        case Caption::Screened: {
            const auto found = m_texts.find(row);
            return found == m_texts.end() ? QString() : found->second;
        }
        default:
            return QString::fromStdString(realToText(m_numbers[r * m_stride]));
        }
    }
    const double v = m_numbers[r * m_stride + static_cast<std::size_t>(column)];
    if (m_constrained && column == m_stride - 1)
        // Known with the value only: a design not evaluated yet has none.
        return caption == Caption::Value || caption == Caption::Screened
                   ? QString::fromStdString(realToText(v))
                   : QString();
    if (std::isnan(v))
        return {};
    if (m_wholeNumbers[static_cast<std::size_t>(column - 1)])
        return QString::number(static_cast<qint64>(v));
    return QString::fromStdString(realToText(v));
}

QVariant IndividualTableModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !isAnnounced(index.row()))
        return {};
    return cellText(index.row(), index.column());
}

bool IndividualTableModel::captionTakesValue(const QModelIndex& index) const
{
    return m_editable && index.isValid() && index.column() == 0 &&
           (!m_takesValue || m_takesValue(index.row()));
}

Qt::ItemFlags IndividualTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (captionTakesValue(index))
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool IndividualTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !captionTakesValue(index) || !isAnnounced(index.row()))
        return false;
    const QString text = value.toString();
    setCaptionText(index.row(), text);
    emit captionEdited(index.row(), text);
    return true;
}

std::size_t IndividualTableModel::storageBytes() const
{
    std::size_t bytes = m_captions.size() * sizeof(Caption) + m_numbers.size() * sizeof(double);
    for (const auto& [row, text] : m_texts)
        bytes += sizeof(row) + sizeof(text) + static_cast<std::size_t>(text.size()) * 2;
    return bytes;
}

void IndividualTableModel::clearStorage()
{
    std::deque<Caption>().swap(m_captions);
    std::deque<double>().swap(m_numbers);
    m_texts.clear();
}

// ---- views ----

QTableView* makeReportView(QAbstractItemModel* model, QWidget* parent, bool typedInto)
{
    QTableView* view =
        typedInto ? new InPlaceEditing<QTableView>(parent) : new QTableView(parent);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setSortingEnabled(false);
    view->verticalHeader()->hide();
    // A fixed height: rows are never measured, however many there are.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    QHeaderView* columns = view->horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setStretchLastSection(true);
    return view;
}

void followEnd(QTableView* view)
{
    // Only a view that shows the end follows it: one scrolled back to an earlier row stays
    // there while the rows come.
    auto atEnd = std::make_shared<bool>(true);
    QObject::connect(view->model(), &QAbstractItemModel::rowsAboutToBeInserted, view,
                     [view, atEnd] {
                         const QScrollBar* bar = view->verticalScrollBar();
                         *atEnd = bar->value() >= bar->maximum();
                     });
    QObject::connect(view->model(), &QAbstractItemModel::rowsInserted, view, [view, atEnd] {
        if (*atEnd)
            view->scrollToBottom();
    });
}

} // namespace zyl
