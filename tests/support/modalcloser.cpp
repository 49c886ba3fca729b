#include "modalcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>

ModalCloser::ModalCloser(QMessageBox::StandardButton answer) : m_answer(answer)
{
    // Polling runs inside the nested event loop of any exec(), which is the
    // only place a modal widget can be answered from.
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalCloser::poll);
    m_timer.start();
}

void ModalCloser::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    Seen s;
    s.className = QString::fromLatin1(modal->metaObject()->className());
    s.title = modal->windowTitle();
    s.hasParent = modal->parentWidget() != nullptr;
    s.windowIcon = modal->windowIcon();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        s.text = box->text();
        s.informativeText = box->informativeText();
        s.icon = box->icon();
        s.buttons = box->standardButtons();
        if (QAbstractButton *def = box->defaultButton())
            s.defaultButton = box->standardButton(def);
        m_seen.append(s);
        QAbstractButton *press = nullptr;
        if (m_answer != QMessageBox::NoButton)
            press = box->button(m_answer);
        if (!press)
            press = box->defaultButton();
        if (press)
            press->click();
        else
            box->done(0);
        return;
    }
    m_seen.append(s);
    if (auto *dialog = qobject_cast<QDialog *>(modal))
        dialog->reject();
    else
        modal->close();
}
