#include "address_forms.h"

namespace beamctl {

const char* ipAddressForm(bool ipv6) {
    return ipv6 ? "an IPv6 address of up to eight groups of four hexadecimal digits or *"
                : "an IPv4 address of four parts, each 0 to 255 or *";
}

const char* macAddressForm() {
    return "a MAC address of six two-digit groups or ** joined by ':'";
}

}  // namespace beamctl
