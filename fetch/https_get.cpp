// Placeholder until the HTTPS transport lands: every fetch fails.
#include "fetch/http_get.h"

int HttpsGet(const char*, const char*) { return -1; }
