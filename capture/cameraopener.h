#ifndef ORVELLA_CAMERAOPENER_H
#define ORVELLA_CAMERAOPENER_H

#include <QObject>

#include <memory>
#include <thread>

class Webcam;

// Opens cameras on a worker thread, so a camera that is slow to start never
// holds the caller's thread. Opens run one after another in the order asked,
// so the library never sees two calls for one device at once.
class CameraOpener : public QObject
{
    Q_OBJECT
public:
    explicit CameraOpener(QObject *parent = nullptr);
    // Gives up the open under way and waits for the worker.
    ~CameraOpener() override;

    // Starts opening camera, which must outlive the open. opened() follows
    // on this object's thread, unless cancel() comes first; the camera's
    // usable flag then says whether it opened.
    void open(Webcam *camera);

    // Whether an open has been started and neither reported nor cancelled.
    bool isOpening() const { return current != nullptr; }

    // Gives up the open under way, if any; no opened() follows for it. The
    // device ends up closed either way: while initCapture still runs, the
    // worker closes it as soon as that returns (nothing else may call the
    // library for that device meanwhile); when it has returned, it is closed
    // here.
    void cancel();

    // Waits until the worker has finished every open, cancelled ones too.
    // The library bounds how long an open takes.
    void waitForWorker();

signals:
    void opened(bool ok);

private slots:
    // Posted by the worker, by name, once an open it did not give up is done.
    void collect();

private:
    struct Attempt;

    std::shared_ptr<Attempt> current;
    // The latest open's thread; each one first joins the one before it.
    std::thread worker;
};

#endif
