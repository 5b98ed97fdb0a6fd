// Start-up of the crypto library interface for the programs.
#pragma once

// Binds the crypto library in-process once per process; failures are
// reported and start-up goes on.
void UpdCryptoStartup();
