#include "DialogAnswer.h"

#include <tessel/widgets/TDialog.h>

#include <QAbstractButton>
#include <QApplication>

using Tessel::Widgets::TDialog;

DialogAnswer::DialogAnswer(int index, Look look) : m_index(index), m_look(std::move(look))
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &DialogAnswer::poll);
    m_timer.start();
}

void DialogAnswer::poll()
{
    auto* dialog = qobject_cast<TDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
        return;
    }
    ++m_count;
    m_title = dialog->title();
    m_message = dialog->message();
    m_size = dialog->size();
    m_buttons.clear();
    for (int i = 0; i < dialog->buttonCount(); ++i) {
        m_buttons << dialog->getButton(i)->text();
    }
    if (m_look) {
        QCoreApplication::processEvents();
        m_look(dialog);
    }
    if (m_index < 0 || dialog->getButton(m_index) == nullptr) {
        dialog->reject();
    } else {
        dialog->getButton(m_index)->click();
    }
}
