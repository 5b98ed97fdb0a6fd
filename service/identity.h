// The fixed identity of the update service, shared by the service program
// and the configuration tool.
#pragma once

// Service name, also its display name and event source.
constexpr const char kUpdServiceName[] = "TQUpdateD64";

// Description shown by the service manager.
constexpr const char kUpdServiceDescription[] = "TQ Client Update Service";

// The one dependency, as a double-"\0"-ended list.
constexpr const char kUpdServiceDependencies[] = "tcpip\0";

// Product version text.
constexpr const char kUpdVersion[] = "6.7.5-01";

// Version line of the usage text.
constexpr const char kUpdVersionLine[] = "@(#) TQ - Version 6.7.5-01";

// Stack size of the worker thread.
constexpr unsigned kUpdWorkerStack = 0x20000;

// How long the service main waits for the worker after a stop (ms).
constexpr unsigned kUpdWorkerStopWait = 300000;
