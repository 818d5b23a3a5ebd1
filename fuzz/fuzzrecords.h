#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads a fuzz input as a row of records: a tag byte, a length byte, then
// that many bytes (fewer when the input ends first). Seeds stay easy to
// write by hand, and every input is a valid row.
class FuzzRecords
{
public:
    struct Record
    {
        std::uint8_t tag = 0;
        std::vector<std::uint8_t> bytes;
    };

    FuzzRecords(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool next(Record &record)
    {
        if (m_at + 2 > m_size)
            return false;
        record.tag = m_data[m_at];
        const std::size_t length = m_data[m_at + 1];
        m_at += 2;
        const std::size_t taken = length < m_size - m_at ? length : m_size - m_at;
        record.bytes.assign(m_data + m_at, m_data + m_at + taken);
        m_at += taken;
        return true;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
