#pragma once

#include <QFrame>

class QVBoxLayout;

namespace Tessel::Widgets {
class TBackgroundGroup;
}

// A column of settings items. With the background-group style the items share one grouped background with thin
// separators; otherwise each item paints its own.
class SettingsGroup : public QFrame
{
    Q_OBJECT

public:
    enum BackgroundStyle
    {
        ItemBackground = 0,
        GroupBackground = 1
    };

    explicit SettingsGroup(QWidget* parent = nullptr, BackgroundStyle style = ItemBackground);

    void appendItem(QWidget* item);
    void insertItem(int index, QWidget* item);
    void removeItem(QWidget* item);
    void moveItem(QWidget* item, int index);
    void setSpacing(int spacing);
    int itemCount() const;
    QWidget* getItem(int index) const;
    void clear();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVBoxLayout* m_itemLayout;
    Tessel::Widgets::TBackgroundGroup* m_backgroundGroup = nullptr;
    BackgroundStyle m_style;
};
