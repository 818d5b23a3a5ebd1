#include "flash/flashhistorywriter.h"

#include "flash/flashhistory.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

FlashHistoryWriter::FlashHistoryWriter(QObject *parent)
    : QObject(parent)
{
}

bool FlashHistoryWriter::append(const QVariantMap &fields)
{
    FlashRecord record;
    record.time = fields.value(QStringLiteral("time")).toDateTime();
    if (!record.time.isValid())
        record.time = QDateTime::currentDateTimeUtc();
    record.tool = QStringLiteral("zudiruv");
    record.address = fields.value(QStringLiteral("address")).toString();
    record.mac = fields.value(QStringLiteral("mac")).toString();
    record.kind = fields.value(QStringLiteral("kind")).toString();
    record.letter = fields.value(QStringLiteral("letter")).toString();
    record.image = QFileInfo(fields.value(QStringLiteral("image")).toString()).fileName();
    record.imageSha256 = fields.value(QStringLiteral("image_sha256")).toString();
    record.codeUploaded = fields.value(QStringLiteral("code_uploaded")).toBool();
    record.codeStatus = fields.value(QStringLiteral("code_status")).toInt();
    record.result = fields.value(QStringLiteral("result")).toString();
    record.exitStatus = fields.value(QStringLiteral("exit_status"), -1).toInt();
    record.errors = fields.value(QStringLiteral("errors")).toStringList();

    QString error;
    if (FlashHistory::append(QDir::currentPath(), record, &error))
        return true;
    std::fprintf(stderr, "zudiruv: the flash could not be added to %s: %s\n", FlashHistory::fileName,
                 error.toLocal8Bit().constData());
    return false;
}
