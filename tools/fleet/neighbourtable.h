#pragma once

#include <QSet>

// The kernel's IPv4 neighbour table as the connect sweep must see it. Each
// connect to an address on a directly attached link takes an entry; the
// table holds gc_thresh3 of them (1024 by default), and past that the
// kernel drops the connect's SYN without a word, so a live host would look
// empty. An answered entry cannot be dropped for the next 20 to 50 s
// (reachable time, then 5 s as stale), a failed one at once. Read through
// netlink, which needs no privilege; only this network namespace's entries
// are seen, the limit being shared with any others.
class NeighbourTable
{
public:
    NeighbourTable();

    // Reads the entries again; false when the table cannot be read, and
    // then it counts as empty.
    bool refresh();

    int limit() const { return m_limit; }
    // Entries the kernel could not drop to make room for a new one.
    int held() const { return m_held; }
    // Whether `address` (host order) has an entry, in whatever state.
    bool has(quint32 address) const { return m_addresses.contains(address); }

private:
    int m_limit = 1024;
    int m_held = 0;
    QSet<quint32> m_addresses;
};
