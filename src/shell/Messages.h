#pragma once

#include <QString>

class QWidget;

namespace zyl {

/// The caption of the program's own message boxes.
inline QString programCaption() { return QStringLiteral("ZYL"); }

/// A modal warning box with an OK button; returns when the user has closed it.
void warningBox(QWidget* parent, const QString& text, const QString& caption = programCaption());

/// A modal information box with an OK button.
void informationBox(QWidget* parent, const QString& text,
                    const QString& caption = programCaption());

/// A modal error box with an OK button.
void errorBox(QWidget* parent, const QString& text, const QString& caption = programCaption());

} // namespace zyl
