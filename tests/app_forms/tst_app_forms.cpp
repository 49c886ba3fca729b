#include "aboutdialog.h"
#include "ui_mainwindow.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QtTest>

// Stands in for the real main window: hosts the form and counts one by-name
// slot to show that the form's set-up connects slots by name.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    MainWindow() { ui.setupUi(this); }
    Ui::MainWindow ui;
    int exitTriggered = 0;

private slots:
    void on_actionE_xit_triggered() { ++exitTriggered; }
};

namespace
{

struct WidgetRow {
    const char *form;
    const char *name;
    const char *type;
    const char *parent;
    QRect geometry; // null: laid out by its parent
    bool pointingHand;
};

// Every widget of both forms in creation order.
const WidgetRow widgetRows[] = {
    {"MainWindow", "centralWidget", "QWidget", "MainWindow", {}, false},
    {"MainWindow", "tabWidget", "QTabWidget", "centralWidget", {10, 16, 721, 521}, false},
    {"MainWindow", "tab", "QWidget", "qt_tabwidget_stackedwidget", {}, false},
    {"MainWindow", "groupBox_2", "QGroupBox", "tab", {10, 10, 341, 271}, false},
    {"MainWindow", "lblLiveImage", "QLabel", "groupBox_2", {10, 20, 320, 240}, false},
    {"MainWindow", "groupBox_3", "QGroupBox", "tab", {360, 10, 341, 271}, false},
    {"MainWindow", "lblDisPlotImage", "QLabel", "groupBox_3", {10, 20, 320, 240}, false},
    {"MainWindow", "groupBox", "QGroupBox", "tab", {10, 290, 231, 51}, false},
    {"MainWindow", "comboFilterChoice", "QComboBox", "groupBox", {10, 20, 151, 22}, true},
    {"MainWindow", "comboKernelSize", "QComboBox", "groupBox", {170, 20, 51, 22}, true},
    {"MainWindow", "groupBox_4", "QGroupBox", "tab", {10, 416, 231, 71}, false},
    {"MainWindow", "txtOutputDirPath", "QLineEdit", "groupBox_4", {10, 40, 171, 23}, false},
    {"MainWindow", "btnSelectOutputDir", "QPushButton", "groupBox_4", {190, 40, 31, 23}, true},
    {"MainWindow", "chkRecord", "QCheckBox", "groupBox_4", {10, 19, 71, 17}, true},
    {"MainWindow", "chkDissimilar", "QCheckBox", "groupBox_4", {100, 19, 121, 17}, true},
    {"MainWindow", "groupBox_5", "QGroupBox", "tab", {250, 290, 251, 101}, false},
    {"MainWindow", "hSlideDissimilarity", "QSlider", "groupBox_5", {10, 20, 201, 19}, true},
    {"MainWindow", "chkEmail", "QCheckBox", "groupBox_5", {8, 47, 81, 17}, true},
    {"MainWindow", "txtEmailAddr", "QLineEdit", "groupBox_5", {85, 44, 154, 23}, false},
    {"MainWindow", "lblSimilarValue", "QLabel", "groupBox_5", {215, 18, 31, 20}, false},
    {"MainWindow", "chkPlaySound", "QCheckBox", "groupBox_5", {8, 74, 81, 17}, true},
    {"MainWindow", "txtSoundFilePath", "QLineEdit", "groupBox_5", {85, 70, 116, 23}, false},
    {"MainWindow", "btnSelectSoundFile", "QPushButton", "groupBox_5", {207, 70, 31, 23}, true},
    {"MainWindow", "groupBox_6", "QGroupBox", "tab", {10, 354, 231, 51}, false},
    {"MainWindow", "hSlideBrightnessAdjust", "QSlider", "groupBox_6", {10, 20, 211, 19}, true},
    {"MainWindow", "groupBox_7", "QGroupBox", "tab", {510, 290, 191, 201}, false},
    {"MainWindow", "label_5", "QLabel", "groupBox_7", {10, 20, 111, 16}, false},
    {"MainWindow", "label", "QLabel", "tab", {249, 435, 261, 51}, false},
    {"MainWindow", "label_3", "QLabel", "tab", {250, 400, 251, 16}, false},
    {"MainWindow", "label_4", "QLabel", "tab", {250, 416, 251, 16}, false},
    {"MainWindow", "camCombo", "QComboBox", "centralWidget", {470, 7, 181, 22}, true},
    {"MainWindow", "label_2", "QLabel", "centralWidget", {389, 9, 81, 20}, false},
    {"MainWindow", "cmdBeginCapture", "QPushButton", "centralWidget", {655, 7, 75, 23}, true},
    {"MainWindow", "menuBar", "QMenuBar", "MainWindow", {0, 0, 741, 21}, false},
    {"MainWindow", "menu_File", "QMenu", "menuBar", {}, false},
    {"MainWindow", "menu_Alerts", "QMenu", "menuBar", {}, false},
    {"MainWindow", "menu_About", "QMenu", "menuBar", {}, false},
    {"MainWindow", "statusBar", "QStatusBar", "MainWindow", {}, false},
    {"aboutdialog", "label", "QLabel", "aboutdialog", {10, 10, 71, 71}, false},
    {"aboutdialog", "label_2", "QLabel", "aboutdialog", {88, 17, 141, 31}, false},
    {"aboutdialog", "label_3", "QLabel", "aboutdialog", {90, 56, 261, 16}, false},
    {"aboutdialog", "line", "QFrame", "aboutdialog", {10, 79, 351, 16}, false},
    {"aboutdialog", "plainTextEdit", "QPlainTextEdit", "aboutdialog", {10, 100, 351, 171}, false},
    {"aboutdialog", "btnClose", "QPushButton", "aboutdialog", {324, 10, 41, 23}, true},
};

const char *const aboutParts[] = {
    "== Developer(s)",
    nullptr, // the credit line
    "== About",
    "Orvella is a smart desktop utility which can utilise attached web cameras and perform "
    "inexpensive cpu subtractions to yield dissimilarity probabilities.",
    "Such applications can thereby detect motion and provide alerts for any circumstance where "
    "cameras are used in conjunction with security.",
    "Alternatives would include the purchase and installation of specialist hardware and "
    "software. With Orvella, one with the basic of hardware devices such as generic webcams can "
    "benefit from sophisticated security measure whilst omitting the common burden of cost.",
};

const QString webcamIcon = ":/icons/icons/1429216426_webcam.png";

// Enums and flags come back from QObject::property() as their own types.
QVariant plain(const QVariant &value)
{
    if (value.userType() >= QMetaType::User) {
        bool isInt = false;
        const int number = value.toInt(&isInt);
        if (isInt)
            return number;
    }
    return value;
}

bool sameImage(const QIcon &icon, const QString &resource)
{
    return !icon.isNull() && icon.pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

} // namespace

class FormsTest : public QObject
{
    Q_OBJECT

    MainWindow *window = nullptr;
    aboutdialog *about = nullptr;

    QWidget *form(const QString &name) const
    {
        return name == "MainWindow" ? static_cast<QWidget *>(window) : about;
    }
    QObject *object(const QString &formName, const QString &name) const
    {
        QWidget *root = form(formName);
        return name == formName ? root : root->findChild<QObject *>(name);
    }

private slots:
    void init()
    {
        window = new MainWindow;
        about = new aboutdialog;
    }
    void cleanup()
    {
        delete window;
        delete about;
    }

    void windows_data()
    {
        QTest::addColumn<QString>("formName");
        QTest::addColumn<QSize>("size");
        QTest::newRow("main") << "MainWindow" << QSize(741, 580);
        QTest::newRow("about") << "aboutdialog" << QSize(375, 283);
    }
    void windows()
    {
        QFETCH(QString, formName);
        QFETCH(QSize, size);
        QWidget *w = form(formName);
        QCOMPARE(w->objectName(), formName);
        QCOMPARE(w->metaObject()->className(), formName.toLatin1());
        QCOMPARE(w->size(), size);
        QCOMPARE(w->minimumSize(), size);
        QCOMPARE(w->maximumSize(), size);
        QCOMPARE(w->windowTitle(), QString("Orvella"));
        QVERIFY(sameImage(w->windowIcon(), webcamIcon));
    }

    void widgetTree_data()
    {
        QTest::addColumn<QString>("formName");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("pointingHand");
        for (const WidgetRow &row : widgetRows)
            QTest::addRow("%s/%s", row.form, row.name)
                << row.form << row.name << row.type << row.parent << row.geometry
                << row.pointingHand;
    }
    void widgetTree()
    {
        QFETCH(QString, formName);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(bool, pointingHand);
        auto *w = qobject_cast<QWidget *>(object(formName, name));
        QVERIFY(w);
        QCOMPARE(w->metaObject()->className(), type.toLatin1());
        QCOMPARE(w->parentWidget()->objectName(), parent);
        if (!geometry.isNull())
            QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->cursor().shape() == Qt::PointingHandCursor, pointingHand);
    }

    // Siblings come in the table's order, which is also their stacking and
    // focus order.
    void creationOrder()
    {
        QHash<QObject *, int> lastIndex;
        for (const WidgetRow &row : widgetRows) {
            QObject *w = object(row.form, row.name);
            const int index = w->parent()->children().indexOf(w);
            QVERIFY2(index > lastIndex.value(w->parent(), -1), row.name);
            lastIndex[w->parent()] = index;
        }
        QList<QAction *> actions;
        for (QObject *child : window->children())
            if (auto *action = qobject_cast<QAction *>(child); action && !action->menu())
                actions << action;
        QCOMPARE(actions,
                 (QList<QAction *>{window->ui.actionE_xit, window->ui.action_About,
                                   window->ui.actionUpdate_Check, window->ui.actionAlert_Settings,
                                   window->ui.actionEvents}));
    }

    void properties_data()
    {
        QTest::addColumn<QString>("formName");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        const struct {
            const char *form, *name, *property;
            QVariant value;
        } rows[] = {
            {"MainWindow", "tabWidget", "currentIndex", 0},
            {"MainWindow", "groupBox_2", "title", "Live"},
            {"MainWindow", "lblLiveImage", "text", ""},
            {"MainWindow", "groupBox_3", "title", "Dissimilarity Plot"},
            {"MainWindow", "lblDisPlotImage", "text", ""},
            {"MainWindow", "groupBox", "title", "Filtering and Kernel Size"},
            {"MainWindow", "groupBox_4", "title", "Configure Output"},
            {"MainWindow", "txtOutputDirPath", "enabled", false},
            {"MainWindow", "txtOutputDirPath", "text", ""},
            {"MainWindow", "btnSelectOutputDir", "text", ""},
            {"MainWindow", "chkRecord", "text", "Record"},
            {"MainWindow", "chkRecord", "checked", false},
            {"MainWindow", "chkDissimilar", "text", "ONLY Dissimilarities"},
            {"MainWindow", "chkDissimilar", "checked", false},
            {"MainWindow", "groupBox_5", "title", "Dissimilarity Alerts"},
            {"MainWindow", "chkEmail", "text", "Send Email:"},
            {"MainWindow", "chkEmail", "checked", false},
            {"MainWindow", "txtEmailAddr", "enabled", true},
            {"MainWindow", "txtEmailAddr", "text", ""},
            {"MainWindow", "lblSimilarValue", "text", "20%"},
            {"MainWindow", "chkPlaySound", "text", "Playback:"},
            {"MainWindow", "chkPlaySound", "checked", false},
            {"MainWindow", "txtSoundFilePath", "enabled", false},
            {"MainWindow", "txtSoundFilePath", "text", ""},
            {"MainWindow", "btnSelectSoundFile", "text", ""},
            {"MainWindow", "groupBox_6", "title", "Contrast Adjustment"},
            {"MainWindow", "groupBox_7", "title", "Scheduler"},
            {"MainWindow", "label_5", "text", "Expected in v1.1"},
            {"MainWindow", "label_5", "styleSheet", "color: rgb(255, 49, 52);"},
            {"MainWindow", "label", "text", ""},
            {"MainWindow", "label_3", "text", "Autonomous Motion Capturing Webcam Software"},
            {"MainWindow", "label_3", "alignment", int(Qt::AlignHCenter | Qt::AlignVCenter)},
            {"MainWindow", "label_4", "text",
             "<html><head/><body><p>Version 1.0 - Build Date: 16th April 2015</p></body></html>"},
            {"MainWindow", "label_4", "alignment", int(Qt::AlignHCenter | Qt::AlignVCenter)},
            {"MainWindow", "label_2", "text", "Active Camera:"},
            {"MainWindow", "label_2", "styleSheet", "color: rgb(35, 117, 0);"},
            {"MainWindow", "cmdBeginCapture", "text", "Enable"},
            {"MainWindow", "menu_File", "title", "&File"},
            {"MainWindow", "menu_About", "title", "&Help"},
            {"MainWindow", "actionE_xit", "text", "E&xit"},
            {"MainWindow", "action_About", "text", "&About"},
            {"MainWindow", "actionUpdate_Check", "text", "Update Check..."},
            {"aboutdialog", "label", "text", ""},
            {"aboutdialog", "label", "scaledContents", true},
            {"aboutdialog", "label_2", "text", "Orvella"},
            {"aboutdialog", "label_2", "styleSheet", "font: 14pt \"MS Shell Dlg 2\";"},
            {"aboutdialog", "label_3", "text",
             "<html><head/><body><p>Autonomous web camera motion sensing alert "
             "utility</p></body></html>"},
            {"aboutdialog", "line", "frameShape", int(QFrame::HLine)},
            {"aboutdialog", "line", "frameShadow", int(QFrame::Sunken)},
            {"aboutdialog", "plainTextEdit", "readOnly", true},
            {"aboutdialog", "plainTextEdit", "verticalScrollBarPolicy", int(Qt::ScrollBarAlwaysOn)},
            {"aboutdialog", "plainTextEdit", "horizontalScrollBarPolicy",
             int(Qt::ScrollBarAlwaysOff)},
            {"aboutdialog", "btnClose", "text", "Close"},
        };
        for (const auto &row : rows)
            QTest::addRow("%s/%s.%s", row.form, row.name, row.property)
                << row.form << row.name << QByteArray(row.property) << row.value;
    }
    void properties()
    {
        QFETCH(QString, formName);
        QFETCH(QString, name);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QObject *o = object(formName, name);
        QVERIFY(o);
        const QVariant actual = o->property(property);
        QVERIFY(actual.isValid());
        QCOMPARE(plain(actual), value);
    }

    void sliders_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("value");
        QTest::newRow("threshold") << "hSlideDissimilarity" << 5 << 95 << 5 << 20;
        QTest::newRow("brightness") << "hSlideBrightnessAdjust" << 1 << 20 << 1 << 10;
    }
    void sliders()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, step);
        QFETCH(int, value);
        auto *slider = window->findChild<QSlider *>(name);
        QVERIFY(slider);
        QCOMPARE(slider->minimum(), minimum);
        QCOMPARE(slider->maximum(), maximum);
        QCOMPARE(slider->singleStep(), step);
        QCOMPARE(slider->pageStep(), step);
        QCOMPARE(slider->value(), value);
        QCOMPARE(slider->orientation(), Qt::Horizontal);
        QVERIFY(!slider->invertedAppearance());
        QVERIFY(!slider->invertedControls());
        QCOMPARE(slider->tickPosition(), QSlider::NoTicks);
    }

    void combos_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("filter") << "comboFilterChoice"
                                << QStringList{"Raw Input (No Filtering)", "Median Filtering",
                                               "Mean Filtering", "Median + Mean Filtering"};
        QTest::newRow("kernel") << "comboKernelSize" << QStringList{"3x3", "5x5", "7x7"};
        QTest::newRow("camera") << "camCombo" << QStringList{};
    }
    void combos()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        auto *combo = window->findChild<QComboBox *>(name);
        QVERIFY(combo);
        QStringList actual;
        for (int i = 0; i < combo->count(); ++i)
            actual << combo->itemText(i);
        QCOMPARE(actual, items);
        QCOMPARE(combo->currentIndex(), items.isEmpty() ? -1 : 0);
    }

    void tabPage()
    {
        const Ui::MainWindow &ui = window->ui;
        QCOMPARE(ui.tabWidget->count(), 1);
        QCOMPARE(ui.tabWidget->widget(0), ui.tab);
        QCOMPARE(ui.tabWidget->tabText(0), QString("Autonomous Watch"));
        QVERIFY(sameImage(ui.tabWidget->tabIcon(0), webcamIcon));
    }

    void menus()
    {
        const Ui::MainWindow &ui = window->ui;
        QCOMPARE(window->menuBar(), ui.menuBar);
        QCOMPARE(window->statusBar(), ui.statusBar);
        // The alerts' own menu stands between the two.
        QCOMPARE(ui.menuBar->actions(),
                 (QList<QAction *>{ui.menu_File->menuAction(), ui.menu_Alerts->menuAction(),
                                   ui.menu_About->menuAction()}));
        QCOMPARE(ui.menu_Alerts->title(), QString("&Alerts"));
        QCOMPARE(ui.menu_Alerts->actions(),
                 (QList<QAction *>{ui.actionAlert_Settings, ui.actionEvents}));
        QCOMPARE(ui.actionAlert_Settings->text(), QString("Alert &Settings..."));
        QCOMPARE(ui.actionEvents->text(), QString("&Events..."));

        const QList<QAction *> file = ui.menu_File->actions();
        QCOMPARE(file.size(), 2);
        QVERIFY(file[0]->isSeparator());
        QCOMPARE(file[1], ui.actionE_xit);

        const QList<QAction *> help = ui.menu_About->actions();
        QCOMPARE(help.size(), 3);
        QCOMPARE(help[0], ui.actionUpdate_Check);
        QVERIFY(help[1]->isSeparator());
        QCOMPARE(help[2], ui.action_About);

        for (QAction *action : {ui.actionE_xit, ui.action_About, ui.actionUpdate_Check}) {
            QCOMPARE(action->parent(), window);
            QVERIFY(action->isVisible());
            QVERIFY(action->shortcut().isEmpty());
        }
    }

    void images_data()
    {
        QTest::addColumn<QString>("formName");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("resource");
        const char *const rows[][3] = {
            {"MainWindow", "actionE_xit", ":/icons/icons/exit.png"},
            {"MainWindow", "action_About", ":/icons/icons/about_icon.png"},
            {"MainWindow", "actionUpdate_Check", ":/icons/icons/update.png"},
            {"MainWindow", "btnSelectOutputDir", ":/icons/icons/load.png"},
            {"MainWindow", "btnSelectSoundFile", ":/icons/icons/load.png"},
            {"MainWindow", "label", ":/icons/icons/company-logo.png"},
            {"aboutdialog", "label", ":/icons/icons/1429216426_webcam.png"},
        };
        for (const auto &row : rows)
            QTest::addRow("%s/%s", row[0], row[1]) << row[0] << row[1] << row[2];
    }
    void images()
    {
        QFETCH(QString, formName);
        QFETCH(QString, name);
        QFETCH(QString, resource);
        QVERIFY(!QPixmap(resource).isNull());
        QObject *o = object(formName, name);
        QVERIFY(o);
        const auto *label = qobject_cast<QLabel *>(o);
        const QIcon icon =
            label ? QIcon(label->pixmap(Qt::ReturnByValue)) : o->property("icon").value<QIcon>();
        QVERIFY(sameImage(icon, resource));
    }

    void logoFitsItsLabel()
    {
        QCOMPARE(QPixmap(":/icons/icons/company-logo.png").size(), window->ui.label->size());
    }

    void slotsConnectByName()
    {
        window->ui.actionE_xit->trigger();
        QCOMPARE(window->exitTriggered, 1);
    }

    void aboutText()
    {
        const auto *edit = about->findChild<QPlainTextEdit *>("plainTextEdit");
        const QStringList parts = edit->toPlainText().split("\n\n");
        QCOMPARE(parts.size(), int(std::size(aboutParts)));
        for (int i = 0; i < parts.size(); ++i) {
            if (aboutParts[i])
                QCOMPARE(parts[i], QString(aboutParts[i]));
            else
                QVERIFY(!parts[i].isEmpty() && !parts[i].contains('\n'));
        }
    }

    void aboutShowsAndHides()
    {
        auto *edit = about->findChild<QPlainTextEdit *>("plainTextEdit");
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QVERIFY(edit->verticalScrollBar()->isVisible());
        QVERIFY(!edit->horizontalScrollBar()->isVisible());
        QCOMPARE(about->findChild<QLabel *>("label_2")->font().pointSize(), 14);

        edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
        const int scrolled = edit->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        QTest::mouseClick(about->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
        QVERIFY(!about->isVisible());

        about->show();
        QVERIFY(about->isVisible());
        QCOMPARE(edit->verticalScrollBar()->value(), scrolled);
    }
};

QTEST_MAIN(FormsTest)
#include "tst_app_forms.moc"
