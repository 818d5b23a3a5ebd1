#pragma once

#include <QString>

// The staging image is the firmware file without its four-byte trailer,
// written where the flasher expects it. A file only reaches it whole: a check
// that fails for any reason leaves no staging file at all.
namespace StagingImage {

// Checks that `firmware` ends in `expectedTrailer` and, if so, writes its bytes
// without the last four to `stagingPath`. Returns false, leaving no staging
// file, when the trailer differs or anything cannot be read or written.
bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath);
// The same, reading the file once: `sha256` gets the SHA-256 of the whole
// file as read, trailer included.
bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath, QByteArray *sha256);

// The trailer as stage() reads it; empty when the file cannot be read.
QString trailer(const QString &firmware);

// Removes the staging file; a missing file is not an error.
void remove(const QString &stagingPath);

} // namespace StagingImage
