#ifndef ORVELLA_HTTPDELIVERY_H
#define ORVELLA_HTTPDELIVERY_H

#include "httppush.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVector>

class QNetworkAccessManager;

// What one HTTP attempt means for the message.
enum class AttemptVerdict {
    Delivered, // a 2xx answer
    TryAgain,  // the server certainly did not take it: safe to send again
    Unknown,   // it may have arrived: sending again could show it twice
    Refused,   // the server will not take it as it is: sending again won't help
};

struct AttemptJudgement {
    AttemptVerdict verdict = AttemptVerdict::Delivered;
    QString reason;        // a few words, empty when delivered
    int retryAfterMs = -1; // the server's own Retry-After, when it gave one
};

// Judges an attempt from its network error, the HTTP status (0 without an
// answer), whether any of the request was handed to the connection, and the
// Retry-After header. Not taken for sure: refused or failed connections
// before anything was sent, 429, 502, 503, 504, and 500 (the server says it
// failed to take it). Unknown: time-outs and closed connections after the
// request went out. Everything else is final.
AttemptJudgement judgeAttempt(QNetworkReply::NetworkError error, int httpStatus, bool requestSent,
                              const QByteArray &retryAfter = QByteArray());

// Sends one request until it is delivered, refused, its fate is unknown, or
// the waits between attempts are used up: attempt n + 1 starts
// retryDelaysMs[n] later (or after the server's Retry-After, capped at
// maxRetryAfterMs). Deletes nothing; the owner deletes it after finished.
class HttpDelivery : public QObject
{
    Q_OBJECT
public:
    static const QVector<int> defaultRetryDelaysMs; // 1, 2, 4 and 8 s
    static constexpr int defaultTimeoutMs = 10000;
    static constexpr int maxRetryAfterMs = 30000;

    HttpDelivery(QNetworkAccessManager &network, HttpPushRequest request,
                 QVector<int> retryDelaysMs = defaultRetryDelaysMs,
                 int timeoutMs = defaultTimeoutMs, QObject *parent = nullptr);
    ~HttpDelivery() override;

    void start();
    int attempts() const { return m_attempts; }

signals:
    // An attempt failed and another follows in retryInMs.
    void attemptFailed(const QString &reason, int retryInMs);
    // The last word: delivered, or why not.
    void finished(bool delivered, const QString &reason);

private:
    void attempt();
    void onFinished();

    QNetworkAccessManager &m_network;
    HttpPushRequest m_request;
    QVector<int> m_delays;
    int m_timeoutMs;
    int m_attempts = 0;
    bool m_sent = false;
    QPointer<QNetworkReply> m_reply;
    QTimer m_retryTimer;
};

// The text for a failed attempt: the reason and what happens next.
QString attemptFailureText(const QString &reason, int retryInMs, bool mayHaveArrived);

#endif
