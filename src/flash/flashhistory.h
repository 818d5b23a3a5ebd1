#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// One flash as it is kept in the history: who flashed what into which device,
// whether the device took an update code, and how the flasher ended.
struct FlashRecord
{
    QDateTime time;            // when the flash started
    QString tool;              // "zudiruv" or "zudiruv-fleet"
    QString address;
    QString mac;
    QString kind;              // device text, e.g. "POE Clock Type B"
    QString letter;            // device kind letter, "A" to "G"
    QString image;             // file name of the image as picked
    QString imageSha256;       // of the file as picked, trailer included
    bool codeUploaded = false; // an update code was sent to the device
    int codeStatus = 0;        // HTTP status of the device's answer to it, 0 for none
    QString result;            // "complete" or "failed" (the fleet adds its own results)
    int exitStatus = -1;       // the flasher's, -1 when it did not exit normally
    QStringList errors;        // the flasher's ERROR: lines
};

// The history of every flash: one JSON line per flash in
// "zudiruv-history.jsonl" of the working folder, only ever appended to (the
// fleet tool may append to it too). A line cut short by a full disk stays as
// a torn fragment on a line of its own, which a reader skips; `jq` reads it
// line by line.
namespace FlashHistory {

inline constexpr char fileName[] = "zudiruv-history.jsonl";

QByteArray line(const FlashRecord &record);

// Appends `record` to `folder`'s history file; false, with `error` set, when
// the line could not be written (a link in its place is refused).
bool append(const QString &folder, const FlashRecord &record, QString *error);
// The same to a history file of any name, such as a site's own.
bool appendToFile(const QString &path, const FlashRecord &record, QString *error);

} // namespace FlashHistory
