#pragma once

#include <QString>

// The staging image is the firmware file without its four-byte trailer,
// written where the flasher expects it. A file only reaches it whole: a check
// that fails for any reason leaves no staging file at all.
namespace StagingImage {

// Checks that `firmware` ends in `expectedTrailer` and, if so, writes its bytes
// without the last four to `stagingPath`. Returns false, leaving no staging
// file, when the trailer differs or anything cannot be read or written.
// With `sha256`, also gives the SHA-256 of the whole firmware file, trailer
// included, as hexadecimal text (empty when the file was refused).
bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath,
           QString *sha256 = nullptr);

// The trailer as stage() reads it; empty when the file cannot be read.
QString trailer(const QString &firmware);

// Removes the staging file; a missing file is not an error.
void remove(const QString &stagingPath);

} // namespace StagingImage
