// Secondary text: a hint or an error line under a control.
#pragma once

#include "TLabel.h"

namespace Tessel::Widgets {

// A TLabel in the tips colour (TPalette::TextTips) at level T7, left aligned; word wrap is off until asked for.
class TTipLabel : public TLabel
{
    Q_OBJECT

public:
    explicit TTipLabel(QWidget* parent = nullptr);
    explicit TTipLabel(const QString& text, QWidget* parent = nullptr);
};

} // namespace Tessel::Widgets
