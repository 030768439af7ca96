// How refusals describe the address forms beamctl takes, the same words for
// every command that takes one.
#pragma once

namespace beamctl {

// "an IPv4 address of four parts, ..." or "an IPv6 address of ...".
const char* ipAddressForm(bool ipv6);
// "a MAC address of six two-digit groups or ** joined by ':'".
const char* macAddressForm();

}  // namespace beamctl
