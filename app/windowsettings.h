#ifndef ORVELLA_WINDOWSETTINGS_H
#define ORVELLA_WINDOWSETTINGS_H

#include <QObject>
#include <QTimer>
#include <QVariant>

class MainWindow;

// Remembers the window's controls and position across runs, in
// QSettings("Kelvane", "Orvella"), and restores the alert, output and push
// settings kept there. Construction restores them through the
// same rules as the user's own clicks; afterwards each control's key is
// written as soon as it changes, and the position when the window moves or
// closes. A file that cannot be read is set aside and the window keeps its
// first-start state, with a note in the status bar. It must not outlive the
// window.
class WindowSettings : public QObject
{
    Q_OBJECT
public:
    explicit WindowSettings(MainWindow &window);
    ~WindowSettings() override;

    // Where the settings live, and where a damaged file is moved to.
    static QString filePath();
    static QString damagedFilePath();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restore();
    void watchControls();
    void write(const QString &key, const QVariant &value);
    void writeGeometry();

    MainWindow &window;
    QTimer geometryTimer;
    bool windowShown = false;
    bool writeFailureShown = false;
};

#endif
