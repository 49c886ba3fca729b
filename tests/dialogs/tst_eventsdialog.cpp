#include "eventlistmodel.h"
#include "eventsdialog.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

QDateTime utc(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    time.setTimeSpec(Qt::UTC);
    return time;
}

EventRecord record(const QString &folder, const QString &camera, const QString &start, int lengthMs,
                   int peak)
{
    EventRecord r;
    r.folder = folder;
    r.camera = camera;
    r.start = utc(start);
    r.end = r.start.addMSecs(lengthMs);
    r.peakLevel = peak;
    r.peakTime = r.start;
    return r;
}

void touch(const QString &path, const QByteArray &content = "x")
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Writes record with name as its files' base, with the files its clip state needs.
void keep(EventRecord record, const QString &name, const char *clip, bool snapshot)
{
    const QDir dir(record.folder);
    if (snapshot) {
        record.snapshotFile = name + ".jpg";
        QImage picture(480, 320, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QVERIFY(picture.save(dir.filePath(record.snapshotFile)));
    }
    if (qstrcmp(clip, "none") != 0)
        record.clipFile = name + ".mp4";
    if (qstrcmp(clip, "saved") == 0)
        touch(dir.filePath(record.clipFile));
    else if (qstrcmp(clip, "part") == 0)
        touch(dir.filePath(record.clipFile + ".part"));
    QString error;
    QVERIFY2(writeEventRecord(record, name, &error), qPrintable(error));
}

QString cell(const EventsDialog &dialog, int row, int column)
{
    const EventListModel &m = dialog.events();
    return m.data(m.index(row, column)).toString();
}

QStringList column(const EventsDialog &dialog, int column)
{
    QStringList texts;
    for (int row = 0; row < dialog.events().rowCount(); ++row)
        texts << cell(dialog, row, column);
    return texts;
}

} // namespace

class TestEventsDialog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void listsTheFolderNewestFirst();
    void eventsOfThisRunAreListedOnce();
    void doubleClickOpensClipOrSnapshot();
    void lengthTexts_data();
    void lengthTexts();

private:
    QScopedPointer<QTemporaryDir> m_dir;
    QString folder() const { return m_dir->path(); }
};

void TestEventsDialog::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    keep(record(folder(), "Hall", "2026-03-01T10:00:00.250Z", 4200, 31), "hall1", "saved", true);
    keep(record(folder(), "Yard", "2026-03-01T12:30:05.000Z", 65000, 120), "yard1", "part", true);
    keep(record(folder(), "Hall", "2026-02-28T23:59:59.000Z", 800, 22), "hall0", "failed", false);
    keep(record(folder(), "Door", "2026-03-01T11:00:00.000Z", 1000, 40), "door1", "none", true);
    touch(QDir(folder()).filePath("broken.json"), "{ not json");
}

void TestEventsDialog::listsTheFolderNewestFirst()
{
    EventsDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Events"));
    dialog.setFolder(folder());
    QCOMPARE(dialog.events().rowCount(), 4);
    QCOMPARE(column(dialog, EventListModel::Camera), (QStringList{"Yard", "Door", "Hall", "Hall"}));
    // Local time (TZ is two hours east of UTC here).
    QCOMPARE(column(dialog, EventListModel::Time),
             (QStringList{"2026-03-01 14:30:05", "2026-03-01 13:00:00", "2026-03-01 12:00:00",
                          "2026-03-01 01:59:59"}));
    QCOMPARE(column(dialog, EventListModel::Length),
             (QStringList{"1:05", "1.0 s", "4.2 s", "0.8 s"}));
    QCOMPARE(column(dialog, EventListModel::PeakLevel), (QStringList{"120", "40", "31", "22"}));
    QCOMPARE(column(dialog, EventListModel::Clip),
             (QStringList{"Being written", "None", "Clip", "Failed"}));

    const EventListModel &m = dialog.events();
    const QPixmap thumbnail =
        m.data(m.index(0, EventListModel::Snapshot), Qt::DecorationRole).value<QPixmap>();
    QCOMPARE(thumbnail.size(), QSize(96, 64));
    QVERIFY(m.data(m.index(3, EventListModel::Snapshot), Qt::DecorationRole).isNull());

    // A clip that was being written is found on Refresh.
    QVERIFY(QFile::rename(QDir(folder()).filePath("yard1.mp4.part"),
                          QDir(folder()).filePath("yard1.mp4")));
    QCOMPARE(cell(dialog, 0, EventListModel::Clip), QString("Being written"));
    QTest::mouseClick(dialog.findChild<QPushButton *>("btnRefresh"), Qt::LeftButton);
    QCOMPARE(cell(dialog, 0, EventListModel::Clip), QString("Clip"));
    QCOMPARE(dialog.events().rowCount(), 4);
}

void TestEventsDialog::eventsOfThisRunAreListedOnce()
{
    EventsDialog dialog;
    // This run's first event, before the folder is read; the window's
    // folder ends with a separator.
    EventRecord hall = record(folder() + "/", "Hall", "2026-03-01T10:00:00.250Z", 5000, 35);
    dialog.addEvent(hall);
    QCOMPARE(dialog.events().rowCount(), 1);
    dialog.setFolder(folder());
    QCOMPARE(dialog.events().rowCount(), 4);
    // This run's knowledge wins; the folder's files are kept.
    QCOMPARE(cell(dialog, 2, EventListModel::PeakLevel), QString("35"));
    QCOMPARE(cell(dialog, 2, EventListModel::Clip), QString("Clip"));

    // Updated while it goes on.
    hall.end = hall.end.addSecs(2);
    hall.peakLevel = 50;
    dialog.addEvent(hall);
    QCOMPARE(dialog.events().rowCount(), 4);
    QCOMPARE(cell(dialog, 2, EventListModel::PeakLevel), QString("50"));
    QCOMPARE(cell(dialog, 2, EventListModel::Length), QString("7.0 s"));

    // The same camera at another time, another camera at the same time, and
    // an event without a folder are events of their own, each in its place.
    dialog.addEvent(record(folder(), "Hall", "2026-03-01T10:00:00.251Z", 100, 25));
    dialog.addEvent(record(folder(), "Attic", "2026-03-01T10:00:00.250Z", 100, 26));
    dialog.addEvent(record(QString(), "Yard", "2026-03-02T08:00:00.000Z", 100, 27));
    QCOMPARE(column(dialog, EventListModel::PeakLevel),
             (QStringList{"27", "120", "40", "25", "26", "50", "22"}));

    // Read again, the folder adds nothing twice and loses nothing of this run.
    dialog.setFolder(folder());
    QCOMPARE(column(dialog, EventListModel::PeakLevel),
             (QStringList{"27", "120", "40", "25", "26", "50", "22"}));

    // Another folder lists its own events and this run's.
    QTemporaryDir other;
    dialog.setFolder(other.path());
    QCOMPARE(column(dialog, EventListModel::PeakLevel), (QStringList{"27", "25", "26", "50"}));
}

void TestEventsDialog::doubleClickOpensClipOrSnapshot()
{
    EventsDialog dialog;
    QList<QUrl> opened;
    dialog.setOpener([&opened](const QUrl &url) {
        opened << url;
        return true;
    });
    dialog.setFolder(folder());
    dialog.resize(900, 600);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *table = dialog.findChild<QTableView *>("tableEvents");
    auto doubleClick = [&](int row) {
        const QRect cell = table->visualRect(dialog.events().index(row, EventListModel::Camera));
        QVERIFY(cell.isValid());
        // A double click as the window system delivers it: press, release, double click.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    };
    const QDir dir(folder());
    doubleClick(2); // Hall with a clip
    doubleClick(0); // Yard, clip being written: its snapshot
    doubleClick(1); // Door, no clip: its snapshot
    doubleClick(3); // Hall without clip or snapshot: nothing
    QCOMPARE(opened, (QList<QUrl>{QUrl::fromLocalFile(dir.absoluteFilePath("hall1.mp4")),
                                  QUrl::fromLocalFile(dir.absoluteFilePath("yard1.jpg")),
                                  QUrl::fromLocalFile(dir.absoluteFilePath("door1.jpg"))}));
    QCOMPARE(dialog.findChild<QLabel *>("lblStatus")->text(),
             QString("This event has no clip or snapshot to open."));
}

void TestEventsDialog::lengthTexts_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "0.0 s";
    QTest::newRow("below a minute") << qint64(59949) << "59.9 s";
    QTest::newRow("a minute") << qint64(60000) << "1:00";
    QTest::newRow("an hour and more") << qint64(3723000) << "1:02:03";
    QTest::newRow("backwards") << qint64(-5) << "0.0 s";
}

void TestEventsDialog::lengthTexts()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(eventLengthText(ms), text);
}

QTEST_MAIN(TestEventsDialog)
#include "tst_eventsdialog.moc"
