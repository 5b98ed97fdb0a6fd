// The connection runtime's process-wide start and end.
#pragma once

// Starts the connection runtime once per process (settings, its mutex, the
// crypto library). 0, or -1 after reporting.
int RVExtInit();

// Ends the connection runtime: every connection and its messages freed.
void RVExtShutdown();
