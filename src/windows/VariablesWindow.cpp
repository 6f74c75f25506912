#include "windows/VariablesWindow.h"

#include "engine/Zyl.h"

#include <QTableView>
#include <QVBoxLayout>

namespace zyl {

TForm4::TForm4(const ZYL& zyl, QWidget* parent)
    : QWidget(parent),
      m_model({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Range")})
{
    setWindowTitle(QStringLiteral("Variables"));
    ListView1 = makeReportView(&m_model, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ListView1);
    const std::size_t count = std::min(zyl.names.size(), zyl.ranges.size());
    for (std::size_t j = 0; j < count; ++j) {
        const Variable_* gene = static_cast<int>(j) < zyl.templateIndiv.count()
                                    ? zyl.templateIndiv.gene(static_cast<int>(j))
                                    : nullptr;
        if (gene)
            m_model.appendRow({zyl.names[j], gene->typeText(), gene->rangeText(zyl.ranges[j])});
        else
            m_model.appendRow({zyl.names[j]});
    }
    m_model.flush();
    resize(sizeHint());
}

} // namespace zyl
