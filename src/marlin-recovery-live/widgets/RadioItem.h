#pragma once

#include "SettingsItem.h"

#include <QPointer>

class QRadioButton;
class QVBoxLayout;

namespace Tessel::Widgets {
class TTipLabel;
}

// A choice among several: a radio button with a text, an optional content widget beside it that is usable only
// while the choice is made, and a tip that replaces the whole row when the choice is not available.
class RadioItem : public SettingsItem
{
    Q_OBJECT

public:
    explicit RadioItem(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    void setTipText(const QString& text);
    QString tipText() const;
    bool isChecked() const;
    void setChecked(bool checked);
    // Replaces an earlier content widget, which is taken out and left without a parent.
    void setContentWidget(QWidget* widget);
    QWidget* contentWidget() const { return m_contentWidget; }
    // true: the choice is offered (header shown, tip hidden); false: only the tip shows.
    void setTipVisible(bool visible);

    QRadioButton* radioButton() const { return m_radioButton; }
    Tessel::Widgets::TTipLabel* tipLabel() const { return m_tipLabel; }

private:
    QRadioButton* m_radioButton;
    QVBoxLayout* m_contentLayout;
    QWidget* m_header;
    Tessel::Widgets::TTipLabel* m_tipLabel;
    QPointer<QWidget> m_contentWidget;
};
