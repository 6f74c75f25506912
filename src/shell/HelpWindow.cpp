#include "shell/HelpWindow.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

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
    {"", "", ""},
    {"GlobalMinIndiv", "vector", ""},
    {"GlobalMaxIndiv", "vector", ""},
    {"CurrentMinIndiv", "vector", ""},
    {"CurrentMaxIndiv", "vector", ""},
};

} // namespace

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
