#include "macaddresstext.h"

#include <QRegularExpression>

bool isMacAddressText(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9A-Fa-f]{2}[:-]){5}([0-9A-Fa-f]{2})$"));
    return pattern.match(text).hasMatch();
}
