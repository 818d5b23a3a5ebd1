#include "macaddresstext.h"

#include "macaddress.h"

bool isMacAddressText(const QString &text)
{
    return parseMacAddress(text.toStdString()).has_value();
}
