#ifndef ORVELLA_EVENTSDIALOG_H
#define ORVELLA_EVENTSDIALOG_H

#include "eventrecord.h"

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>

namespace Ui
{
class EventsDialog;
}

class EventListModel;
class QModelIndex;

// "Events": the events of this run and those the output folder keeps,
// newest first, with their time, camera, length, peak level, snapshot and
// clip. Double-clicking one opens its clip with the desktop's player, or its
// snapshot when it has no clip to play.
class EventsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit EventsDialog(QWidget *parent = nullptr);
    ~EventsDialog() override;

    // Reads the events kept in folder (none for an empty one); Refresh reads
    // it again.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    // An event of this run, new or updated; one the folder holds as well
    // (the same folder, start and camera) is listed once.
    void addEvent(const EventRecord &record);

    // What opens a clip or snapshot; QDesktopServices::openUrl unless set.
    void setOpener(std::function<bool(const QUrl &)> opener) { m_opener = std::move(opener); }

    const EventListModel &events() const { return *m_model; }

private slots:
    void on_btnRefresh_clicked();
    void on_tableEvents_doubleClicked(const QModelIndex &index);

private:
    Ui::EventsDialog *ui;
    EventListModel *m_model;
    QString m_folder;
    std::function<bool(const QUrl &)> m_opener;
};

#endif
