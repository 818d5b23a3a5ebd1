#pragma once

#include <QObject>
#include <QVariantMap>

// The screen's way into the flash history: one record per flash, appended to
// the history file of the working folder. A line that cannot be written is
// reported on standard error; the flash itself is not affected.
class FlashHistoryWriter : public QObject
{
    Q_OBJECT

public:
    explicit FlashHistoryWriter(QObject *parent = nullptr);

    // `record` holds the fields of FlashRecord by their history names
    // ("time", "address", "mac", "kind", "letter", "image", "image_sha256",
    // "code_uploaded", "code_status", "result", "exit_status", "errors").
    // "image" is taken as a path; only its file name is kept.
    Q_INVOKABLE bool append(const QVariantMap &record);
};
