#pragma once

#include <QHeaderView>

// The table's header: one rounded background across the sections, left-aligned titles, no separators.
class BaseHeaderView : public QHeaderView
{
    Q_OBJECT

public:
    explicit BaseHeaderView(Qt::Orientation orientation, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};
