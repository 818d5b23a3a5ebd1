#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// An answer; `prefix` is sent ahead of `body` and `fillerBytes` filler bytes
// ahead of both, generated while sending so a huge answer costs no memory.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "text/html";
    QList<QPair<QByteArray, QByteArray>> extraHeaders;
    qint64 fillerBytes = 0;
    QByteArray prefix;
    QByteArray body;

    qint64 contentLength() const { return fillerBytes + prefix.size() + body.size(); }
};
