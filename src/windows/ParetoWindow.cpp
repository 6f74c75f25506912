#include "windows/ParetoWindow.h"

#include "common/TextConvert.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QSplitter>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace zyl {

namespace {

QString text(double value) { return QString::fromStdString(realToText(value)); }

QString name(const std::vector<std::string>& names, std::size_t i)
{
    return i < names.size() ? QString::fromStdString(names[i])
                            : QStringLiteral("x%1").arg(i + 1);
}

/// The index of `wanted` among `names`, or `fallback`.
int indexOf(const std::vector<std::string>& names, const std::string& wanted, int fallback)
{
    const auto at = std::find(names.begin(), names.end(), wanted);
    return at != names.end() ? static_cast<int>(at - names.begin()) : fallback;
}

} // namespace

/// The plot's own widget: paints, and turns clicks and resting mouse into designs.
class ParetoPaintBox : public QWidget {
  public:
    explicit ParetoPaintBox(TPareto* owner) : QWidget(owner), m_owner(owner)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        // Focus, so that the keyboard reaches the popup menu.
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(160, 120);
    }

  protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_owner->paintBackground(painter, rect());
        m_owner->paintPlot(painter, rect());
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        // A click beside every design keeps the one listed: the list is what the user chose.
        if (event->button() == Qt::LeftButton)
            if (const int design = m_owner->designAt(event->position().toPoint()); design >= 0)
                m_owner->selectDesign(design);
        QWidget::mousePressEvent(event);
    }

    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        auto* help = static_cast<QHelpEvent*>(event);
        const int design = m_owner->designAt(help->pos());
        if (design >= 0) {
            QToolTip::showText(help->globalPos(), m_owner->designText(design), this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }

  private:
    TPareto* m_owner;
};

TPareto::TPareto(QWidget* parent) : PictureWindow(parent)
{
    setWindowTitle(QStringLiteral("Pareto front"));
    ComboBoxX = new QComboBox(this);
    ComboBoxY = new QComboBox(this);
    ComboBoxView = new QComboBox(this);
    ComboBoxView->addItems({QStringLiteral("Scatter"), QStringLiteral("Parallel coordinates")});
    ComboBoxView->setEnabled(false);
    for (QComboBox* box : {ComboBoxX, ComboBoxY})
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    LabelSummary = new QLabel(this);
    // The lists keep their width; the summary takes what is left.
    LabelSummary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    PaintBoxPlot = new ParetoPaintBox(this);
    ListViewDesign = new QTreeWidget(this);
    ListViewDesign->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    ListViewDesign->setRootIsDecorated(false);
    ListViewDesign->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    auto* controls = new QHBoxLayout;
    const std::pair<const char*, QComboBox*> labelled[] = {
        {"&x", ComboBoxX}, {"&y", ComboBoxY}, {"&View", ComboBoxView}};
    for (const auto& [caption, box] : labelled) {
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        label->setBuddy(box);
        controls->addWidget(label);
        controls->addWidget(box);
        connect(box, &QComboBox::currentIndexChanged, this, &TPareto::takeControls);
    }
    controls->addSpacing(12);
    controls->addWidget(LabelSummary, 1);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(PaintBoxPlot);
    splitter->addWidget(ListViewDesign);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addWidget(splitter, 1);
    buildMenu();
    resize(sizeHint());
}

TPareto::~TPareto() = default;

void TPareto::buildMenu()
{
    PopupMenu1 = new QMenu(this);
    addPictureItems(PopupMenu1, PaintBoxPlot);
    PopupMenu1->addSeparator();
    Backgroundcolor1 = PopupMenu1->addAction(QStringLiteral("&Background colour"));
    connect(Backgroundcolor1, &QAction::triggered, this, &TPareto::Backgroundcolor1Click);
}

void TPareto::showSnapshot(const ParetoSnapshot& snapshot)
{
    const std::vector<std::string>& oldNames = m_snapshot.objectiveNames;
    const std::string keepX = m_view.xObjective < static_cast<int>(oldNames.size())
                                  ? oldNames[static_cast<std::size_t>(m_view.xObjective)]
                                  : std::string();
    const std::string keepY = m_view.yObjective < static_cast<int>(oldNames.size())
                                  ? oldNames[static_cast<std::size_t>(m_view.yObjective)]
                                  : std::string();
    const bool sameObjectives = snapshot.objectiveNames == oldNames &&
                                snapshot.maximised == m_snapshot.maximised;
    // The design clicked last, if the new population still holds it.
    int selected = -1;
    if (sameObjectives && m_view.selected >= 0 &&
        static_cast<std::size_t>(m_view.selected) < m_snapshot.points.size()) {
        const ParetoPoint& was = m_snapshot.points[static_cast<std::size_t>(m_view.selected)];
        for (std::size_t i = 0; i < snapshot.points.size() && selected < 0; ++i)
            if (snapshot.points[i].variables == was.variables &&
                snapshot.points[i].objectives == was.objectives)
                selected = static_cast<int>(i);
    }
    m_snapshot = snapshot;
    m_view.selected = selected;
    if (!sameObjectives) {
        // Another task: what was listed belongs to it.
        fillAxisChoices(keepX, keepY);
        ListViewDesign->clear();
    }

    int front = 0, infeasible = 0;
    for (const ParetoPoint& point : m_snapshot.points) {
        front += point.onFront ? 1 : 0;
        infeasible += point.violation != 0 ? 1 : 0;
    }
    LabelSummary->setText(QStringLiteral("Generation %1: %2 on the front of %3, %4 infeasible")
                              .arg(m_snapshot.generation)
                              .arg(front)
                              .arg(m_snapshot.points.size())
                              .arg(infeasible));
    PaintBoxPlot->update();
}

void TPareto::fillAxisChoices(const std::string& keepX, const std::string& keepY)
{
    const std::vector<std::string>& names = m_snapshot.objectiveNames;
    const int count = static_cast<int>(names.size());
    const QSignalBlocker blockX(ComboBoxX), blockY(ComboBoxY), blockView(ComboBoxView);
    ComboBoxX->clear();
    ComboBoxY->clear();
    for (int k = 0; k < count; ++k) {
        ComboBoxX->addItem(ParetoPlot::objectiveTitle(m_snapshot, k));
        ComboBoxY->addItem(ParetoPlot::objectiveTitle(m_snapshot, k));
    }
    m_view.xObjective = indexOf(names, keepX, 0);
    m_view.yObjective = indexOf(names, keepY, std::min(1, std::max(count - 1, 0)));
    ComboBoxX->setCurrentIndex(m_view.xObjective);
    ComboBoxY->setCurrentIndex(m_view.yObjective);
    // Two objectives are the scatter already.
    const bool parallel = count >= 3;
    ComboBoxView->setEnabled(parallel);
    m_view.parallel = m_view.parallel && parallel;
    ComboBoxView->setCurrentIndex(m_view.parallel ? 1 : 0);
    ComboBoxX->setEnabled(!m_view.parallel);
    ComboBoxY->setEnabled(!m_view.parallel);
}

void TPareto::takeControls()
{
    m_view.xObjective = std::max(ComboBoxX->currentIndex(), 0);
    m_view.yObjective = std::max(ComboBoxY->currentIndex(), 0);
    m_view.parallel = ComboBoxView->currentIndex() == 1;
    ComboBoxX->setEnabled(!m_view.parallel);
    ComboBoxY->setEnabled(!m_view.parallel);
    PaintBoxPlot->update();
}

void TPareto::selectDesign(int design)
{
    if (design >= static_cast<int>(m_snapshot.points.size()))
        design = -1;
    m_view.selected = std::max(design, -1);
    listDesign(m_view.selected);
    PaintBoxPlot->update();
}

void TPareto::listDesign(int design)
{
    ListViewDesign->clear();
    if (design < 0)
        return;
    const ParetoPoint& point = m_snapshot.points[static_cast<std::size_t>(design)];
    auto row = [this](const QString& name, const QString& value, bool bold = false) {
        auto* item = new QTreeWidgetItem(ListViewDesign, {name, value});
        if (bold) {
            QFont font = item->font(0);
            font.setBold(true);
            item->setFont(0, font);
            item->setFont(1, font);
        }
    };
    for (std::size_t k = 0; k < point.objectives.size(); ++k)
        row(k < m_snapshot.objectiveNames.size()
                ? ParetoPlot::objectiveTitle(m_snapshot, static_cast<int>(k))
                : QStringLiteral("Objective%1").arg(k + 1),
            text(point.objectives[k]), /*bold=*/true);
    row(QStringLiteral("Violation"), text(point.violation));
    row(QStringLiteral("On the front"), point.onFront ? QStringLiteral("yes") : QStringLiteral("no"));
    for (std::size_t j = 0; j < point.variables.size(); ++j)
        row(name(m_snapshot.variableNames, j), text(point.variables[j]));
}

QString TPareto::designText(int design) const
{
    if (design < 0 || static_cast<std::size_t>(design) >= m_snapshot.points.size())
        return {};
    const ParetoPoint& point = m_snapshot.points[static_cast<std::size_t>(design)];
    QStringList lines;
    for (std::size_t k = 0; k < point.objectives.size(); ++k)
        lines << QStringLiteral("%1 = %2")
                     .arg(k < m_snapshot.objectiveNames.size()
                              ? ParetoPlot::objectiveTitle(m_snapshot, static_cast<int>(k))
                              : QStringLiteral("Objective%1").arg(k + 1),
                          text(point.objectives[k]));
    if (point.violation != 0)
        lines << QStringLiteral("Violation = %1").arg(text(point.violation));
    // A tip is no table: a long list of variables is cut, the side list has them all.
    constexpr std::size_t most = 12;
    for (std::size_t j = 0; j < point.variables.size() && j < most; ++j)
        lines << QStringLiteral("%1 = %2").arg(name(m_snapshot.variableNames, j),
                                               text(point.variables[j]));
    if (point.variables.size() > most)
        lines << QStringLiteral("... %1 more variables").arg(point.variables.size() - most);
    return lines.join('\n');
}

int TPareto::designAt(QPoint pos) const
{
    return ParetoPlot(m_snapshot, m_view, PaintBoxPlot->rect(), PaintBoxPlot->font())
        .designAt(pos);
}

void TPareto::paintPlot(QPainter& painter, const QRect& rect) const
{
    ParetoPlot(m_snapshot, m_view, rect, PaintBoxPlot->font()).paint(painter);
}

void TPareto::paintBackground(QPainter& painter, const QRect& rect) const
{
    painter.fillRect(rect, backgroundColour());
}

QImage TPareto::bitmap() const
{
    const QSize size = PaintBoxPlot->size();
    if (size.width() < 3 || size.height() < 3)
        return {};
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintBackground(painter, image.rect());
    paintPlot(painter, image.rect());
    return image;
}

QByteArray TPareto::svgDocument() const
{
    return drawSvg(PaintBoxPlot->size(),
                   [this](QPainter& painter) { paintPlot(painter, PaintBoxPlot->rect()); });
}

} // namespace zyl
