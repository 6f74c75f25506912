#include "windows/BufferedWindow.h"

#include <QTableView>
#include <QVBoxLayout>

namespace zyl {

TForm3::TForm3(const ZYL& zyl, QWidget* parent) : QWidget(parent), m_model(zyl)
{
    setWindowTitle(QStringLiteral("Buffered"));
    ListView1 = makeReportView(&m_model, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
    followEnd(ListView1);
    resize(sizeHint());
}

void TForm3::addBufferedRow(const Indiv& entry)
{
    m_model.appendIndividual(entry, /*valueKnown=*/true);
    m_model.commit();
}

} // namespace zyl
