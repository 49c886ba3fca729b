#ifndef ORVELLA_SERVER_ALLOWLIST_H
#define ORVELLA_SERVER_ALLOWLIST_H

#include <string>
#include <string_view>
#include <vector>

// The addresses the server mails to: exact addresses and "@domain" entries,
// all compared without regard to case. An empty list allows nothing.
class AllowList
{
public:
    AllowList() = default;

    // Entries separated by commas or white space. Entries that are neither a
    // valid address nor "@" and a domain end up in invalid().
    static AllowList parse(std::string_view text);

    bool allows(std::string_view address) const;
    bool empty() const { return m_addresses.empty() && m_domains.empty(); }
    const std::vector<std::string> &invalid() const { return m_invalid; }
    std::size_t size() const { return m_addresses.size() + m_domains.size(); }

private:
    std::vector<std::string> m_addresses;
    std::vector<std::string> m_domains;
    std::vector<std::string> m_invalid;
};

#endif
