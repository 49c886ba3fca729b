#include "eventlistmodel.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>

namespace
{

QString eventKey(const EventRecord &record)
{
    const QString folder =
        record.folder.isEmpty() ? QString() : QFileInfo(record.folder).absoluteFilePath();
    return QDir::cleanPath(folder) + '\n' + QString::number(record.start.toMSecsSinceEpoch()) +
           '\n' + record.camera;
}

// Newest first; events of the same moment by camera.
bool newerFirst(const EventRecord &a, const EventRecord &b)
{
    if (a.start != b.start)
        return a.start > b.start;
    return a.camera < b.camera;
}

EventListModel::ClipState clipStateOf(const EventRecord &record)
{
    if (record.clipFile.isEmpty())
        return EventListModel::ClipState::None;
    const QString clip = record.clipPath();
    if (QFileInfo(clip).isFile())
        return EventListModel::ClipState::Saved;
    if (QFileInfo(clip + ".part").isFile())
        return EventListModel::ClipState::BeingWritten;
    return EventListModel::ClipState::Failed;
}

QString clipStateText(EventListModel::ClipState state)
{
    switch (state) {
    case EventListModel::ClipState::Saved:
        return QStringLiteral("Clip");
    case EventListModel::ClipState::BeingWritten:
        return QStringLiteral("Being written");
    case EventListModel::ClipState::Failed:
        return QStringLiteral("Failed");
    case EventListModel::ClipState::None:
        break;
    }
    return QStringLiteral("None");
}

} // namespace

QString eventLengthText(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    if (ms < 60000)
        return QString::number(double(ms) / 1000.0, 'f', 1) + " s";
    const qint64 seconds = ms / 1000;
    const QString minutesAndSeconds =
        QString("%1:%2").arg(seconds / 60 % 60).arg(seconds % 60, 2, 10, QChar('0'));
    if (seconds < 3600)
        return minutesAndSeconds;
    return QString("%1:%2").arg(seconds / 3600).arg(minutesAndSeconds.rightJustified(5, '0'));
}

EventListModel::EventListModel(QObject *parent) : QAbstractTableModel(parent) {}

EventListModel::Row EventListModel::makeRow(const EventRecord &record) const
{
    return Row{eventKey(record), record, clipStateOf(record)};
}

void EventListModel::rebuild()
{
    m_rows.clear();
    QHash<QString, int> byKey;
    for (const EventRecord &record : m_folder) {
        byKey.insert(eventKey(record), m_rows.size());
        m_rows.append(makeRow(record));
    }
    for (const EventRecord &record : m_run) {
        const QString key = eventKey(record);
        const auto found = byKey.constFind(key);
        if (found == byKey.constEnd()) {
            byKey.insert(key, m_rows.size());
            m_rows.append(makeRow(record));
            continue;
        }
        // This run knows the event best; the folder may know its files.
        EventRecord merged = record;
        const EventRecord &kept = m_rows[*found].record;
        if (merged.snapshotFile.isEmpty())
            merged.snapshotFile = kept.snapshotFile;
        if (merged.clipFile.isEmpty())
            merged.clipFile = kept.clipFile;
        m_rows[*found] = makeRow(merged);
    }
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [](const Row &a, const Row &b) { return newerFirst(a.record, b.record); });
}

void EventListModel::setFolderRecords(const QVector<EventRecord> &records)
{
    beginResetModel();
    m_folder = records;
    m_thumbnails.clear();
    rebuild();
    endResetModel();
}

void EventListModel::addRunEvent(const EventRecord &record)
{
    const QString key = eventKey(record);
    const auto same = std::find_if(m_run.begin(), m_run.end(),
                                   [&](const EventRecord &r) { return eventKey(r) == key; });
    if (same != m_run.end())
        *same = record;
    else
        m_run.append(record);
    m_thumbnails.remove(record.snapshotPath());

    const auto shown =
        std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &row) { return row.key == key; });
    if (shown == m_rows.end()) {
        const auto at = std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &row) {
            return newerFirst(record, row.record);
        });
        const int row = int(at - m_rows.begin());
        beginInsertRows(QModelIndex(), row, row);
        m_rows.insert(row, makeRow(record));
        endInsertRows();
        return;
    }
    EventRecord merged = record;
    if (merged.snapshotFile.isEmpty())
        merged.snapshotFile = shown->record.snapshotFile;
    if (merged.clipFile.isEmpty())
        merged.clipFile = shown->record.clipFile;
    *shown = makeRow(merged);
    const int row = int(shown - m_rows.begin());
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

int EventListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int EventListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QPixmap EventListModel::thumbnail(const QString &path) const
{
    if (path.isEmpty())
        return QPixmap();
    const auto cached = m_thumbnails.constFind(path);
    if (cached != m_thumbnails.constEnd())
        return *cached;
    // Decoding at the thumbnail's size is much cheaper than decoding whole.
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(thumbnailSize(), Qt::KeepAspectRatio));
    const QPixmap pixmap = QPixmap::fromImage(reader.read());
    m_thumbnails.insert(path, pixmap);
    return pixmap;
}

QVariant EventListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const Row &row = m_rows[index.row()];
    const EventRecord &record = row.record;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Time:
            return record.start.toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
        case Camera:
            return record.camera;
        case Length:
            return eventLengthText(record.lengthMs());
        case PeakLevel:
            return record.peakLevel;
        case Snapshot:
            return thumbnail(record.snapshotPath()).isNull() ? QStringLiteral("None") : QVariant();
        case Clip:
            return clipStateText(row.clip);
        }
    } else if (role == Qt::DecorationRole && index.column() == Snapshot) {
        const QPixmap pixmap = thumbnail(record.snapshotPath());
        return pixmap.isNull() ? QVariant() : QVariant(pixmap);
    } else if (role == Qt::ToolTipRole) {
        if (index.column() == Clip && !record.clipFile.isEmpty())
            return QDir::toNativeSeparators(record.clipPath());
        if (index.column() == Snapshot && !record.snapshotFile.isEmpty())
            return QDir::toNativeSeparators(record.snapshotPath());
    } else if (role == Qt::TextAlignmentRole &&
               (index.column() == Length || index.column() == PeakLevel)) {
        return int(Qt::AlignRight | Qt::AlignVCenter);
    }
    return QVariant();
}

QVariant EventListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case Time:
        return QStringLiteral("Time");
    case Camera:
        return QStringLiteral("Camera");
    case Length:
        return QStringLiteral("Length");
    case PeakLevel:
        return QStringLiteral("Peak level");
    case Snapshot:
        return QStringLiteral("Snapshot");
    case Clip:
        return QStringLiteral("Clip");
    }
    return QVariant();
}
