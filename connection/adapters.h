// Hardware (MAC) addresses of the machine's network adapters: the list of
// all of them, and the one that carries a connection's local address.
#pragma once

#include <vector>

#include "platform/adapters.h"

// Longest MAC address list, in characters.
constexpr int kRVMacListMax = 1023;

// Writes the MAC address of the adapter that carries `local_address` (a
// connection's numeric local address; a leading "::ffff:" of a mapped IPv4
// address is skipped) into `out` (at least 24 bytes) as lower-case
// hexadecimal pairs joined by ":". 0, or -1 when the address is empty, no
// adapter carries it, or the adapters cannot be listed (reported).
int RVAdapterMacForLocal(const char* local_address, char* out);

// Writes the MAC addresses of all real adapters (a device behind them; no
// bridge, veth, tun/tap or other virtual interface) into `out` (1,024 bytes), joined
// by ",", each once, at most 1,023 characters. 0 when one or more were
// listed; 1 with an empty text when there are none; -1 when the adapters
// cannot be listed (reported).
int RVAdapterMacList(char* out);

// The choice of RVAdapterMacForLocal over a given adapter list.
int RVAdapterMacForLocalIn(const std::vector<PlatAdapter>& adapters, const char* local_address, char* out);

// The list of RVAdapterMacList over a given adapter list (0 or 1).
int RVAdapterMacListIn(const std::vector<PlatAdapter>& adapters, char* out);
