#pragma once

#include <QString>

#include <optional>

// Dotted IPv4 text as service staff type it: four decimal numbers 0..255,
// one to three digits each, leading zeros read as decimal ("010" is ten).
std::optional<quint32> parseIpv4(const QString &text);
// One such number alone, 0..255.
std::optional<quint32> parseIpv4Number(const QString &text);
QString formatIpv4(quint32 address);
