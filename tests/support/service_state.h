// The state of an installed service as the service manager reports it.
#pragma once

#include <cstdint>

// The service's current state (SERVICE_RUNNING, ...); 0 when it is not
// installed or cannot be queried.
uint32_t TqServiceState(const char* name);

// Waits (bounded, about 30 s) until the service reaches `state`; false when
// it did not.
bool TqWaitServiceState(const char* name, uint32_t state);
