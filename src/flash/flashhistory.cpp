#include "flash/flashhistory.h"

#include "platform/filesystem.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace FlashHistory {

QByteArray line(const FlashRecord &record)
{
    const QJsonObject entry{
        {QStringLiteral("time"), record.time.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("tool"), record.tool},
        {QStringLiteral("address"), record.address},
        {QStringLiteral("mac"), record.mac},
        {QStringLiteral("kind"), record.kind},
        {QStringLiteral("letter"), record.letter},
        {QStringLiteral("image"), record.image},
        {QStringLiteral("image_sha256"), record.imageSha256},
        {QStringLiteral("code_uploaded"), record.codeUploaded},
        {QStringLiteral("code_status"), record.codeUploaded ? QJsonValue(record.codeStatus) : QJsonValue()},
        {QStringLiteral("result"), record.result},
        {QStringLiteral("exit_status"), record.exitStatus},
        {QStringLiteral("errors"), QJsonArray::fromStringList(record.errors)},
    };
    // Compact JSON escapes every line break, so one record is one line.
    return QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
}

bool append(const QString &folder, const FlashRecord &record, QString *error)
{
    return appendToFile(QDir(folder).filePath(QLatin1String(fileName)), record, error);
}

bool appendToFile(const QString &path, const FlashRecord &record, QString *error)
{
    return FileSystem::appendRecord(path, line(record), error);
}

} // namespace FlashHistory
