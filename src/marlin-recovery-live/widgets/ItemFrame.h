#pragma once

#include <tessel/widgets/TFrame.h>

#include <QPixmap>

namespace Tessel::Widgets {
class TLabel;
}

// A selectable tile of the home page: icon, title and a radio mark while chosen.
class ItemFrame : public Tessel::Widgets::TFrame
{
    Q_OBJECT
public:
    ItemFrame(const QString& title, const QString& description, const QString& iconPath, QWidget* parent = nullptr);

    void setLayoutType(int type) { m_layoutType = type; }
    int layoutType() const { return m_layoutType; }
    void initLayout();
    void setIcon(const QString& iconPath, int size);
    void setChecked(bool checked);
    bool isChecked() const { return m_checked; }
    QString title() const;

    // The file's image at size logical pixels, sharp on high-density screens.
    static QPixmap loadPixmap(const QString& path, const QSize& size);

signals:
    void clicked(bool checked);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void initTileLayout();

    Tessel::Widgets::TLabel* m_titleLabel;
    Tessel::Widgets::TLabel* m_descriptionLabel;
    Tessel::Widgets::TLabel* m_iconLabel;
    Tessel::Widgets::TLabel* m_checkLabel;
    QPixmap m_radioMark;
    bool m_checked = false;
    int m_layoutType = -1;
};
