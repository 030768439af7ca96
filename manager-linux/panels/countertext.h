// How a programmable counter's definition is shown in its row and read back
// from the editor: tag colours, the size condition, the address with its
// wildcards, and the conversions between the record's tri-states and the
// editor's check states. The record keeps addresses last byte first: an
// IPv4 address in ip[3..0] (first dotted number in ip[3]), an IPv6 address in
// ip[15..0]; the mask alike, 0xFF for a compared byte. The address and size
// rules are the records library's (counter_fields.h), shared with beamctl.
#pragma once

#include <QString>
#include <Qt>
#include <optional>

#include "NettlebeamAPI.h"
#include "addresstext.h"

namespace CounterText {

// "silver" for don't care (-1 and anything else), "red" for 0, "lime" for 1.
QString tagColour(int32_t value);
QString tagStyle(int32_t value);
// "Any size", "> N", "< N", "= N" for size modes -1, 0, 1, 2.
QString sizeText(int32_t sizeMode, int32_t size);

// The address with '*' for wildcard bytes when exactly one of IPv4 and IPv6
// is required; empty otherwise.
QString addressText(const NettlebeamApiCounterV2& counter);
// The IPv4 or IPv6 address and mask of a record as the formatter takes them.
WildcardAddress ipv4Of(const NettlebeamApiCounterV2& counter);
WildcardAddress ipv6Of(const NettlebeamApiCounterV2& counter);
// Stores a parsed address of its version into the record's address and mask.
void storeAddress(NettlebeamApiCounterV2& counter, const WildcardAddress& parsed);

// Tri-state -1/0/1 <-> partially checked/unchecked/checked.
Qt::CheckState checkStateOf(int32_t triState);
int32_t triStateOf(Qt::CheckState state);

// The editor's size combo: index 0 "Don't care" is mode -1, indexes 1..3
// modes 0..2.
int sizeIndexOf(int32_t sizeMode);
int32_t sizeModeOf(int index);

}  // namespace CounterText
