#ifndef ORVELLA_SERVER_ALLOWLIST_H
#define ORVELLA_SERVER_ALLOWLIST_H

#include <string>
#include <string_view>
#include <vector>

// The addresses the server mails to: exact addresses and "@domain" entries,
// all compared in their canonical (lower-case) form. An empty list allows
// nothing.
class AllowList
{
public:
    AllowList() = default;

    // Entries separated by commas or white space. Entries that are neither a
    // valid address nor "@" and a valid domain end up in invalid().
    static AllowList parse(std::string_view text);

    // How an address is allowed: listed on its own, through an @domain
    // entry, or not at all.
    enum class Match { None, Listed, Domain };
    Match match(std::string_view address) const;
    bool allows(std::string_view address) const { return match(address) != Match::None; }

    bool empty() const { return m_addresses.empty() && m_domains.empty(); }
    bool hasAddresses() const { return !m_addresses.empty(); }
    const std::vector<std::string> &invalid() const { return m_invalid; }
    std::size_t size() const { return m_addresses.size() + m_domains.size(); }

private:
    std::vector<std::string> m_addresses;
    std::vector<std::string> m_domains;
    std::vector<std::string> m_invalid;
};

#endif
