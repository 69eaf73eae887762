// The toolkit's message dialog: icon, title, message and a row of buttons; exec() tells which button was pressed.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>

class QAbstractButton;
class QHBoxLayout;
class QPushButton;

namespace Tessel::Widgets {

class TIconButton;
class TLabel;

// A frameless rounded dialog with its own close button in the top right corner; drag it by its background.
// exec() (QDialog's) returns the index of the pressed button (addButton() order, from 0), or -1 when the dialog was
// closed otherwise: the close button, Escape, close(), reject(). Because button indexes are the result codes,
// QDialog::accepted()/rejected() say nothing useful here: use exec()'s value, finished(int) or buttonClicked().
// Unless a fixed size was set, the dialog sizes itself to its content when shown (380 to 520 px wide).
class TDialog : public QDialog
{
    Q_OBJECT

public:
    enum ButtonType
    {
        ButtonNormal,
        ButtonWarning,   // red text: the action destroys or restarts something
        ButtonRecommend, // filled with the accent: the expected choice
    };

    explicit TDialog(QWidget* parent = nullptr);
    TDialog(const QString& title, const QString& message, QWidget* parent = nullptr);

    void setTitle(const QString& title); // also the window title; an empty title hides the line
    QString title() const;
    void setMessage(const QString& message); // plain text, word-wrapped; empty hides the line
    QString message() const;
    void setIcon(const QIcon& icon); // shown at 48 x 48 above the title; a null icon hides it
    void setIcon(const QString& fileName);
    QIcon icon() const { return m_icon; }

    // Appends a button and returns its index. The default button has the focus and answers Enter.
    int addButton(const QString& text, bool isDefault = false, ButtonType type = ButtonNormal);
    void addButtons(const QStringList& texts);
    int buttonCount() const { return int(m_buttons.size()); }
    QAbstractButton* getButton(int index) const; // null outside 0..buttonCount()-1
    void setDefaultButton(int index);
    void clearButtons();

    void setCloseButtonVisible(bool visible);
    bool closeButtonVisible() const;
    // When false, pressing a button only emits buttonClicked() and the dialog stays open. Starts true.
    void setOnButtonClickedClose(bool close);
    bool onButtonClickedClose() const { return m_closeOnButton; }

    // Centres the dialog over its parent widget, or on the screen without one, at the size it will be shown.
    void moveToCenter();

public slots:
    void reject() override;

signals:
    void buttonClicked(int index, const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void ensureSize();
    void updateIcon();
    void onButtonClicked(QPushButton* button);

    QIcon m_icon;
    TLabel* m_iconLabel;
    TLabel* m_titleLabel;
    TLabel* m_messageLabel;
    TIconButton* m_closeButton;
    QHBoxLayout* m_buttonLayout;
    QList<QPushButton*> m_buttons;
    QPoint m_dragOffset;
    bool m_dragging = false;
    bool m_closeOnButton = true;
};

} // namespace Tessel::Widgets
