#include "cameraopener.h"

#include "capturelibrary.h"
#include "webcam.h"

#include <atomic>

namespace
{

enum AttemptState { Opening, Opened, Cancelled };

} // namespace

struct CameraOpener::Attempt {
    Webcam *camera;
    int deviceIndex;
    SimpleCapParams *params;
    // Written by the worker before it leaves Opening, read after.
    int result = 0;
    // Whoever moves it out of Opening first decides who closes the device.
    std::atomic<int> state{Opening};
};

CameraOpener::CameraOpener(QObject *parent) : QObject(parent) {}

CameraOpener::~CameraOpener()
{
    cancel();
    waitForWorker();
}

void CameraOpener::open(Webcam *camera)
{
    cancel();
    auto attempt = std::make_shared<Attempt>();
    attempt->camera = camera;
    attempt->deviceIndex = camera->deviceIndex;
    attempt->params = &camera->params;
    current = attempt;

    std::thread previous = std::move(worker);
    worker = std::thread([this, attempt, previous = std::move(previous)]() mutable {
        if (previous.joinable())
            previous.join();
        const CaptureLibraryTable &lib = captureLibrary();
        attempt->result = lib.initCapture(attempt->deviceIndex, attempt->params);
        int expected = Opening;
        if (attempt->state.compare_exchange_strong(expected, Opened)) {
            // Only a wake-up crosses over: the result goes by the atomic
            // state. This object outlives the thread (its destructor joins).
            QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection);
        } else if (attempt->result) {
            // Given up while it opened: the device is closed on this thread,
            // before the library can see any other call for it.
            lib.deinitCapture(attempt->deviceIndex);
        }
    });
}

void CameraOpener::cancel()
{
    if (!current)
        return;
    const std::shared_ptr<Attempt> attempt = std::move(current);
    current.reset();
    int expected = Opening;
    if (attempt->state.compare_exchange_strong(expected, Cancelled))
        return;
    // initCapture has returned and its report is on the way; it is dropped
    // there, and the device is closed here.
    attempt->camera->usable = attempt->result != 0;
    attempt->camera->close();
}

void CameraOpener::waitForWorker()
{
    if (worker.joinable())
        worker.join();
}

void CameraOpener::collect()
{
    if (!current || current->state.load() != Opened)
        return;
    const std::shared_ptr<Attempt> attempt = std::move(current);
    current.reset();
    attempt->camera->usable = attempt->result != 0;
    emit opened(attempt->camera->usable);
}
