#ifndef ORVELLA_SERVER_MAILSPOOL_H
#define ORVELLA_SERVER_MAILSPOOL_H

#include "holdoffbook.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One mail waiting for the SMTP server: envelope and message.
struct SpooledMail {
    std::string sender;
    std::string recipient;
    std::string message;
};

// A spool file's text: "from SENDER", "to RECIPIENT", an empty line, then
// the message as it is sent.
std::string serializeSpooledMail(const SpooledMail &mail);
std::optional<SpooledMail> parseSpooledMail(std::string_view text);

// The spool folder: one file per accepted mail, named after the time it was
// accepted so that the oldest goes first. Files are written in tmp/ and
// renamed into place, so a mail is there whole or not at all. A mail is moved
// into sending/ before it is handed to the SMTP server and removed from
// there once the server took it, so no mail can be sent twice: what an
// earlier run left in sending/ may have been sent and goes to failed/, as do
// mails the SMTP server refused for good. The file "lock" keeps a second
// server off the folder.
class MailSpool
{
public:
    explicit MailSpool(std::string folder) : m_folder(std::move(folder)) {}
    ~MailSpool();
    MailSpool(const MailSpool &) = delete;
    MailSpool &operator=(const MailSpool &) = delete;

    // Creates the folder, takes its lock (held until the spool is
    // destroyed), creates tmp/, sending/ and failed/, and clears tmp/ of
    // files an earlier run left half written; on failure says why.
    bool prepare(std::string &error);

    // Moves what an earlier run left in sending/ to failed/; their names.
    std::vector<std::string> setAsideUnsure();

    // The new file's name, or nullopt when it could not be written.
    std::optional<std::string> add(const SpooledMail &mail, WallTime now, std::string &error);

    // Names of the waiting mails, oldest first.
    std::vector<std::string> waiting() const;
    std::optional<SpooledMail> read(const std::string &name) const;
    bool remove(const std::string &name) const;
    bool moveAside(const std::string &name) const;

    // The steps of one delivery; on failure each says why in error.
    bool markSending(const std::string &name, std::string &error) const;
    bool unmarkSending(const std::string &name, std::string &error) const;
    bool removeSent(const std::string &name, std::string &error) const;
    bool moveSendingAside(const std::string &name, std::string &error) const;

    // When the mail was accepted, from its name.
    static std::optional<WallTime> acceptedAt(const std::string &name);

    const std::string &folder() const { return m_folder; }

private:
    bool lock(std::string &error);

    std::string m_folder;
    unsigned m_sequence = 0;
    int m_lockFd = -1;
};

#endif
