#include "shell/HelpWindow.h"

#include <QHeaderView>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace zyl {

namespace {

struct NameRow {
    const char* name;
    const char* type;
    const char* description;
};

// An empty row separates the scalars from the vectors.
constexpr NameRow names[] = {
    {"Generation", "scalar", "number of generation"},
    {"Average", "scalar", "average fitness function"},
    {"StdDev", "scalar", "standard deviation"},
    {"Mutations", "scalar", "number of mutation"},
    {"Crossovers", "scalar", "number of dcrossovers"},
    {"PopSize", "scalar", "population size"},
    {"Different", "scalar", "number of different individuals"},
    {"MeanDev", "scalar", "mean deviation"},
    {"MedianDev", "scalar", "median deviation"},
    {"Range", "scalar", "CurrentMax - CurrentMin"},
    {"Q1", "scalar", "lower quartile"},
    {"Q2", "scalar", "median"},
    {"Q3", "scalar", "upper quartile"},
    {"IQR", "scalar", "interquartile range"},
    {"Entropy", "scalar", ""},
    {"Discrepancy", "scalar", "local discrepancy of fitness function"},
    {"GlobalMax", "scalar", ""},
    {"GlobalMin", "scalar", ""},
    {"CurrentMax", "scalar", ""},
    {"CurrentMin", "scalar", ""},
    {"CrossPoints", "scalar", "number of crossover points"},
    {"TourSize", "scalar", "size of tournament"},
    {"Buffered", "scalar", "number of buffered individuals"},
    {"CrossUnifProb", "scalar", "uniform crossover probability"},
    {"CrossProb", "scalar", "crossover probability"},
    {"MutProb", "scalar", "mutation probability"},
    {"Feasible", "scalar", "feasible designs of the generation (with constraints)"},
    {"MinViolation", "scalar", "smallest violation of the generation (with constraints)"},
    {"BestViolation", "scalar", "violation of the best design (with constraints)"},
    {"FrontSize", "scalar", "feasible designs on the front (with several objectives)"},
    {"Hypervolume", "scalar", "hypervolume of the front (with several objectives)"},
    {"<objective>_FrontMin", "scalar", "least value of an objective on the front"},
    {"<objective>_FrontMax", "scalar", "greatest value of an objective on the front"},
    {"Screened", "scalar", "designs ruled out before evaluation (with prescreen)"},
    {"", "", ""},
    {"GlobalMinIndiv", "vector", ""},
    {"GlobalMaxIndiv", "vector", ""},
    {"CurrentMinIndiv", "vector", ""},
    {"CurrentMaxIndiv", "vector", ""},
};

} // namespace

QPoint placeBeside(const QRect& anchor, const QSize& size, const QRect& screen)
{
    const int screenRight = screen.left() + screen.width();
    const int screenBottom = screen.top() + screen.height();
    int x = anchor.left() + anchor.width();
    if (x + size.width() > screenRight && anchor.left() - size.width() >= screen.left())
        x = anchor.left() - size.width();
    // std::clamp needs its bounds in order, which a window larger than the screen upsets.
    x = std::max(screen.left(), std::min(x, screenRight - size.width()));
    const int y = std::max(screen.top(), std::min(anchor.top(), screenBottom - size.height()));
    return {x, y};
}

void TForm5::showBeside(const QWidget* anchor)
{
    if (!isVisible() && anchor) {
        const QWidget* window = anchor->window();
        const QScreen* screen = window->screen();
        // This window's frame is not known before it is shown; the asking window's is the
        // best guess, both being decorated alike.
        const QSize frame = window->frameGeometry().size() - window->geometry().size();
        const QRect room = screen ? screen->availableGeometry() : QRect();
        if (room.isValid()) {
            resize(size().boundedTo(room.size() - frame));
            move(placeBeside(window->frameGeometry(), size() + frame, room));
        }
    }
    show();
    raise();
    activateWindow();
}

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Variable names"));
    resize(420, 360);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"),
                                QStringLiteral("Description")});
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const NameRow& row : names)
        new QTreeWidgetItem(ListView1, {QString::fromLatin1(row.name),
                                        QString::fromLatin1(row.type),
                                        QString::fromLatin1(row.description)});
    ListView1->header()->resizeSections(QHeaderView::ResizeToContents);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
}

} // namespace zyl
