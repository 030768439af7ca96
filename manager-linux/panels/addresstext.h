// IP addresses with per-byte wildcards, as the filter and counter editors
// show and read them: "10.1.*.*", "fe80:****::1". An address travels with a
// mask of the same version; a mask byte 0xFF means the byte is compared, any
// other value makes it (or half of it) a wildcard.
//
// QString and QHostAddress faces of the records library's parsers and
// formatter (wildcard_address.h), which beamctl shares; the rules of the text
// are documented there. The wildcard is an ASCII character: with any other,
// every parse and format fails.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QHostAddress>
#include <QString>
#include <optional>

#include "wildcard_address.h"

struct WildcardAddress {
    QHostAddress address;
    QHostAddress mask;
};

// Dotted IPv4 text, each of the four parts a decimal number below 256 or
// wildcard characters only ("*", "**"). The empty text is 0.0.0.0 with mask
// 0.0.0.0, which matches anything. Short forms such as "10.1" are refused:
// they would put the numbers in other bytes than the mask says.
std::optional<WildcardAddress> parseIpv4Wildcards(const QString& text, QChar wildcard = u'*');

// IPv6 text of up to eight groups of at most four hexadecimal digits or
// wildcard characters; one "::" (or a final ':') reads the rest from the right
// end. A wildcard character makes its nibble a wildcard; groups not written,
// and the missing leading digits of a short group, are compared zeros. Fails
// on any other character, a group of more than four characters, more than
// eight groups, a second "::" or groups on both sides of "::" that overlap.
std::optional<WildcardAddress> parseIpv6Wildcards(const QString& text, QChar wildcard = u'*');

// IPv6: eight groups of four lowercase hexadecimal digits joined by ':', a
// byte whose mask is not 0xFF written as two wildcard characters. IPv4: the
// four decimal bytes joined by '.', a byte whose mask is not 0xFF written as
// one wildcard character. Nothing for an address of neither version or a mask
// of another version than the address.
std::optional<QString> formatWildcardAddress(const QHostAddress& address, const QHostAddress& mask,
                                             QChar wildcard = u'*');

// The address's bytes in written order: 4 for IPv4, 16 for IPv6, none otherwise.
QByteArray addressBytes(const QHostAddress& address);
// 4 bytes give an IPv4 address, 16 an IPv6 address, any other count a null address.
QHostAddress addressFromBytes(const QByteArray& bytes);

// The same address as the records library holds it, and back: nothing for
// an address of neither version or a mask of another version.
WildcardAddress fromRecords(const nettlebeam::records::WildcardAddress& address);
std::optional<nettlebeam::records::WildcardAddress> toRecords(const WildcardAddress& address);
