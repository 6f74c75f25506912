#include "shell/Messages.h"

#include <QMessageBox>

namespace zyl {

void warningBox(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

void informationBox(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::information(parent, caption, text, QMessageBox::Ok);
}

void errorBox(QWidget* parent, const QString& text, const QString& caption)
{
    QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
}

} // namespace zyl
