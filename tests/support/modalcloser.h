#ifndef ORVELLA_MODALCLOSER_H
#define ORVELLA_MODALCLOSER_H

#include <QIcon>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

// Closes every modal widget that appears while it lives and records what it
// showed, so code that runs message boxes or dialogs with exec() cannot hang
// a test. For a message box it presses the button named by answer (or the
// default button when answer is NoButton); other dialogs are rejected.
class ModalCloser : public QObject
{
    Q_OBJECT
public:
    struct Seen {
        QString className;
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        bool hasParent = false;
        QIcon windowIcon;
    };

    explicit ModalCloser(QMessageBox::StandardButton answer = QMessageBox::NoButton);

    const QList<Seen> &seen() const { return m_seen; }
    int count() const { return m_seen.size(); }
    void clear() { m_seen.clear(); }
    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }

private:
    void poll();

    QTimer m_timer;
    QList<Seen> m_seen;
    QMessageBox::StandardButton m_answer;
};

#endif
