#include "requestlog.h"

#include <QJsonDocument>

#include <cstdio>

RequestLog::RequestLog()
{
    m_clock.start();
}

bool RequestLog::open(const QString &fileName)
{
    if (fileName.isEmpty() || fileName == QLatin1String("-"))
        return m_file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    m_file.setFileName(fileName);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

void RequestLog::write(const QString &event, QJsonObject fields)
{
    if (!m_file.isOpen())
        return;
    fields.insert(QStringLiteral("event"), event);
    fields.insert(QStringLiteral("ms"), double(m_clock.elapsed()));
    m_file.write(QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n');
    m_file.flush();
}
