// Placeholder until the HTTP transport lands: every fetch fails.
#include "fetch/http_get.h"

int HttpGet(const char*, const char*) { return -1; }
