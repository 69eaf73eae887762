// A segmented row (or column) of mutually exclusive buttons, such as a switcher between modules.
#pragma once

#include <QAbstractButton>
#include <QList>
#include <QWidget>

class QBoxLayout;
class QButtonGroup;

namespace Tessel::Widgets {

// One segment of a TButtonBox: text and/or icon, accent-filled while checked.
class TButtonBoxButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit TButtonBoxButton(const QString& text, QWidget* parent = nullptr);
    TButtonBoxButton(const QIcon& icon, const QString& text = QString(), QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Holds the buttons given to setButtonList() on one rounded track; a button's id is its position in that list.
// With checkable buttons exactly one can be checked at a time. Any QAbstractButton works; TButtonBoxButton
// matches the look of the track.
class TButtonBox : public QWidget
{
    Q_OBJECT

public:
    explicit TButtonBox(QWidget* parent = nullptr);

    void setOrientation(Qt::Orientation orientation);
    Qt::Orientation orientation() const;

    // Replaces the buttons (the old ones are deleted) and takes ownership of the new ones.
    void setButtonList(const QList<QAbstractButton*>& list, bool checkable);
    QList<QAbstractButton*> buttonList() const { return m_buttons; }

    QAbstractButton* button(int id) const; // null for an unknown id
    int id(QAbstractButton* button) const; // -1 for a button not in the box
    QAbstractButton* checkedButton() const;
    int checkedId() const;

signals:
    void buttonClicked(QAbstractButton* button);
    void buttonPressed(QAbstractButton* button);
    void buttonReleased(QAbstractButton* button);
    void buttonToggled(QAbstractButton* button, bool checked);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QBoxLayout* m_layout;
    QButtonGroup* m_group;
    QList<QAbstractButton*> m_buttons;
};

} // namespace Tessel::Widgets
