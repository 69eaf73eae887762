#pragma once

#include <QFrame>

// A row of a settings group: paints its own rounded background, tinted when it holds an error.
class SettingsItem : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(bool isErr READ isErr WRITE setIsErr)

public:
    explicit SettingsItem(QWidget* parent = nullptr);

    bool isErr() const { return m_isErr; }
    void setIsErr(bool err = true);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool m_isErr = false;
};
