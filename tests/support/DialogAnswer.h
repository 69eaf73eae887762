#pragma once

// Answers the toolkit's modal dialogs that open while it lives: notes what each said, lets the caller look at it
// (a screenshot), then presses the button at the given index, or closes the dialog for -1. It polls, because a
// dialog may open only after queued calls have run; it stops when it goes out of scope, so it never answers a
// dialog meant for a later step.

#include <QObject>
#include <QSize>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace Tessel::Widgets {
class TDialog;
}

class DialogAnswer : public QObject
{
    Q_OBJECT

public:
    using Look = std::function<void(Tessel::Widgets::TDialog*)>;

    explicit DialogAnswer(int index, Look look = Look());

    int count() const { return m_count; }
    bool seen() const { return m_count > 0; }
    // Of the last dialog answered.
    QString title() const { return m_title; }
    QString message() const { return m_message; }
    QStringList buttons() const { return m_buttons; }
    QSize size() const { return m_size; }

private:
    void poll();

    int m_index;
    Look m_look;
    QTimer m_timer;
    int m_count = 0;
    QString m_title;
    QString m_message;
    QStringList m_buttons;
    QSize m_size;
};
