#include "smtpsender.h"

#include <curl/curl.h>

#include <cstring>

namespace
{

struct Upload {
    const std::string *text;
    std::size_t offset;
};

std::size_t readUpload(char *buffer, std::size_t size, std::size_t count, void *user)
{
    Upload &upload = *static_cast<Upload *>(user);
    const std::size_t room = size * count;
    const std::size_t left = upload.text->size() - upload.offset;
    const std::size_t n = left < room ? left : room;
    std::memcpy(buffer, upload.text->data() + upload.offset, n);
    upload.offset += n;
    return n;
}

} // namespace

SmtpOutcome::Result classifySmtpResult(bool curlOk, long replyCode)
{
    if (curlOk)
        return SmtpOutcome::Accepted;
    if (replyCode >= 500 && replyCode <= 599)
        return SmtpOutcome::Refused;
    return SmtpOutcome::TryLater;
}

SmtpOutcome sendMail(const SmtpSettings &settings, const SpooledMail &mail)
{
    SmtpOutcome outcome;
    CURL *curl = curl_easy_init();
    if (!curl) {
        outcome.detail = "libcurl could not start";
        return outcome;
    }
    char errorText[CURL_ERROR_SIZE] = {0};
    Upload upload{&mail.message, 0};
    curl_slist *recipients = curl_slist_append(nullptr, ("<" + mail.recipient + ">").c_str());

    curl_easy_setopt(curl, CURLOPT_URL, settings.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_USE_SSL,
                     settings.starttlsRequired ? long(CURLUSESSL_ALL) : long(CURLUSESSL_NONE));
    if (!settings.user.empty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, settings.user.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.password.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + mail.sender + ">").c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(mail.message.size()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, settings.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    outcome.code = code;
    outcome.result = classifySmtpResult(result == CURLE_OK, code);
    outcome.detail = errorText[0] ? errorText : curl_easy_strerror(result);

    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    return outcome;
}
