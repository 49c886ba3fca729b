#include "eventsdialog.h"
#include "eventlistmodel.h"
#include "ui_eventsdialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

EventsDialog::EventsDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::EventsDialog), m_model(new EventListModel(this)),
      m_opener(QDesktopServices::openUrl)
{
    ui->setupUi(this);
    ui->tableEvents->setModel(m_model);
    const QSize thumbnail = EventListModel::thumbnailSize();
    ui->tableEvents->verticalHeader()->setDefaultSectionSize(thumbnail.height() + 4);
    QHeaderView *header = ui->tableEvents->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(EventListModel::Camera, QHeaderView::Stretch);
    header->setSectionResizeMode(EventListModel::Snapshot, QHeaderView::Fixed);
    header->resizeSection(EventListModel::Snapshot, thumbnail.width() + 8);
}

EventsDialog::~EventsDialog()
{
    delete ui;
}

void EventsDialog::setFolder(const QString &folder)
{
    m_folder = folder;
    ui->lblFolder->setText(
        folder.isEmpty() ? QString("No output folder")
                         : QString("Output folder: %1").arg(QDir::toNativeSeparators(folder)));
    m_model->setFolderRecords(folder.isEmpty() ? QVector<EventRecord>() : readEventRecords(folder));
}

void EventsDialog::addEvent(const EventRecord &record)
{
    m_model->addRunEvent(record);
}

void EventsDialog::on_btnRefresh_clicked()
{
    setFolder(m_folder);
}

void EventsDialog::on_tableEvents_doubleClicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const EventRecord &record = m_model->record(index.row());
    // A clip still being written cannot play yet; its snapshot can be seen.
    QString path;
    if (m_model->clipState(index.row()) == EventListModel::ClipState::Saved)
        path = record.clipPath();
    else if (!record.snapshotFile.isEmpty() && QFileInfo(record.snapshotPath()).isFile())
        path = record.snapshotPath();
    if (path.isEmpty()) {
        ui->lblStatus->setText("This event has no clip or snapshot to open.");
        return;
    }
    if (!m_opener(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())))
        ui->lblStatus->setText(
            QString("No program could open %1").arg(QDir::toNativeSeparators(path)));
}
