#ifndef ORVELLA_SERVER_HOLDOFFJOURNAL_H
#define ORVELLA_SERVER_HOLDOFFJOURNAL_H

#include "holdoffbook.h"

#include <string>
#include <string_view>
#include <vector>

// The hold-offs kept beside the mails in the spool, so that alerts held
// before a restart still get their summary. Every change appends one line,
// written before the client is answered:
//   ADDRESS ENDS COUNT FIRST LAST CLIENT     (times in ms since 1970)
//   ADDRESS -                                (the hold-off is over)
// The last line of an address counts. The file is written anew from the
// book once it has grown well past the book's size.
class HoldOffJournal
{
public:
    explicit HoldOffJournal(std::string path) : m_path(std::move(path)) {}
    ~HoldOffJournal();
    HoldOffJournal(const HoldOffJournal &) = delete;
    HoldOffJournal &operator=(const HoldOffJournal &) = delete;

    // What an earlier run left; lines that cannot be read are skipped.
    std::vector<HoldOffState> load() const;
    // Writes the given states as the whole journal and keeps it open for
    // appending; false (with the reason) when it cannot be written.
    bool rewrite(const std::vector<HoldOffState> &states, std::string &error);

    // Appends a change; false (with the reason) when it cannot be written.
    bool note(const HoldOffState &state, std::string &error);
    bool forget(const std::string &address, std::string &error);

    // Appended lines since the last rewrite.
    std::size_t appended() const { return m_appended; }
    const std::string &path() const { return m_path; }

private:
    bool append(const std::string &line, std::string &error);

    std::string m_path;
    int m_fd = -1;
    std::size_t m_appended = 0;
};

// One journal line; parseJournal() reads a whole journal's text.
std::string journalLine(const HoldOffState &state);
std::vector<HoldOffState> parseJournal(std::string_view text);

#endif
