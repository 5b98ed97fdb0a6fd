// The update worker.
#pragma once

// Runs the update worker until a stop request (or, outside the service, at
// once). 0 when it ended normally, -1 when start-up failed and always in
// test mode.
int UpdWorker();
