#ifndef ORVELLA_CAPTURESTATUS_H
#define ORVELLA_CAPTURESTATUS_H

#include <mutex>
#include <string>

// What the program may learn about a device besides its frames: a file
// descriptor that is readable exactly while the frame it asked for is done,
// so it can sleep until then, and the last failure reported for the device.
// One per device for the life of the process, so the descriptor never
// changes or closes under a caller that waits on it. Thread-safe.
class CaptureStatus
{
public:
    CaptureStatus();
    ~CaptureStatus();

    CaptureStatus(const CaptureStatus &) = delete;
    CaptureStatus &operator=(const CaptureStatus &) = delete;

    // -1 when the system gave no descriptor.
    int doneDescriptor() const { return m_descriptor; }
    void setDone(bool done);

    // The report line, as reportText gives it; empty while all is well.
    void setFailure(const std::string &line);
    std::string failure() const;

private:
    const int m_descriptor;
    mutable std::mutex m_mutex;
    bool m_done = false;
    std::string m_failure;
};

#endif
