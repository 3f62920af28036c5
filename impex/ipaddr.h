// Dotted IPv4 text, optionally followed by ":port", to a host-order address
// (first octet most significant).
#pragma once

#include <cstdint>

// 0 on success, -1 on failure (outputs then unchanged). Blanks are ignored and
// missing octets count as 0; after the third dot a ':' starts the port when one
// is asked for, and any other character is skipped.
int string2ipaddr(const char *text, uint32_t &address, uint16_t *port);
