#pragma once

#include "fuzzcheck.h"

#include <QByteArray>
#include <QMetaObject>
#include <QProcess>

#include <algorithm>
#include <cstdint>

// Hands bytes to a tool-driving QProcess as if its child had written them to
// standard output, and lets the class read them with its own output slot.
// No child runs: starting one per input would be far too slow to fuzz.
template <typename ToolClass>
class FedTool : public ToolClass
{
public:
    FedTool() { this->setOpenMode(QIODevice::ReadOnly); }

    // Appends `bytes` behind what the class left unread (a partial line).
    void deliver(const QByteArray &bytes)
    {
        const QByteArray pending = this->readAll() + bytes;
        for (int i = pending.size(); i-- > 0;)
            this->ungetChar(pending.at(i));
        FUZZ_CHECK(QMetaObject::invokeMethod(this, "readOutput", Qt::DirectConnection));
    }

    // Input: the size of the pieces the output arrives in, then the output.
    void deliverInPieces(const std::uint8_t *data, std::size_t size)
    {
        if (size == 0)
            return;
        const std::size_t piece = std::size_t(data[0]) + 1;
        for (std::size_t at = 1; at < size; at += piece) {
            const std::size_t length = std::min(piece, size - at);
            deliver(QByteArray(reinterpret_cast<const char *>(data + at), int(length)));
        }
    }
};
