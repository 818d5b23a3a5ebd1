#pragma once

#include <QByteArray>
#include <QString>

// The tools print UTF-8; anything after a zero byte is noise from the tool's
// buffers and is dropped.
inline QString decodeToolLine(const QByteArray &line)
{
    const int zero = line.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? line : line.left(zero));
}
