#ifndef ORVELLA_SERVER_SMTPSENDER_H
#define ORVELLA_SERVER_SMTPSENDER_H

#include "mailspool.h"

#include <string>

struct SmtpSettings {
    std::string url; // smtp://host:port or smtps://host:port
    bool starttlsRequired = true;
    std::string user;
    std::string password;
    long connectTimeoutSeconds = 30;
    long timeoutSeconds = 120;
};

struct SmtpOutcome {
    enum Result { Accepted, TryLater, Refused };
    Result result = TryLater;
    long code = 0;      // the SMTP server's last reply code, 0 when none
    std::string detail; // for the log
};

// Hands one mail to the SMTP server with libcurl. A 5xx reply is a refusal
// for good; everything else that fails may work later.
SmtpOutcome sendMail(const SmtpSettings &settings, const SpooledMail &mail);

// Classifies a finished attempt from libcurl's result and the reply code.
SmtpOutcome::Result classifySmtpResult(bool curlOk, long replyCode);

#endif
