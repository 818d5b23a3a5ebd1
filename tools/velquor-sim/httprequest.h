#pragma once

#include <QByteArray>
#include <QString>

// One parsed HTTP request, as far as the device looks at it.
struct HttpRequest
{
    QByteArray method;
    QString path;          // target up to "?"
    QString query;         // after "?", raw; empty when there is none
    QByteArray authorization;
    QByteArray body;
    bool keepAlive = true;
    quint64 connectionId = 0;
};
