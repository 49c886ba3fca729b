#ifndef ORVELLA_EVENTLISTMODEL_H
#define ORVELLA_EVENTLISTMODEL_H

#include "eventrecord.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <QVector>

// The events of this run and those an output folder keeps, one row each,
// newest first. An event of this run that the folder holds as well (the same
// folder, start and camera) is one row, with what this run knows of it.
class EventListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, Camera, Length, PeakLevel, Snapshot, Clip, ColumnCount };
    enum class ClipState { None, Saved, BeingWritten, Failed };

    explicit EventListModel(QObject *parent = nullptr);

    // Replaces the folder's events; the clip states and snapshots are looked
    // at anew.
    void setFolderRecords(const QVector<EventRecord> &records);
    // Adds an event of this run, or updates the one of the same folder,
    // start and camera.
    void addRunEvent(const EventRecord &record);

    const EventRecord &record(int row) const { return m_rows[row].record; }
    ClipState clipState(int row) const { return m_rows[row].clip; }

    static QSize thumbnailSize() { return QSize(96, 64); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Row {
        QString key;
        EventRecord record;
        ClipState clip = ClipState::None;
    };

    Row makeRow(const EventRecord &record) const;
    void rebuild();
    QPixmap thumbnail(const QString &path) const;

    QVector<EventRecord> m_folder;
    QVector<EventRecord> m_run;
    QVector<Row> m_rows;                          // newest first
    mutable QHash<QString, QPixmap> m_thumbnails; // by snapshot path; null: none
};

// What the events list shows of an event's length: "4.2 s", "1:05", "1:02:03".
QString eventLengthText(qint64 ms);

#endif
