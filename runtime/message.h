// UpdMessage: the message function of both programs.
#pragma once

#include <string>

#include "runtime/print.h"

// Formats a message of `level` (0-9, higher is more important) into 1,024
// bytes, rewrites the message file "<RV_COMMONAPPDATA>/tqupd-msg.txt" with it,
// and writes it to the program's log when the level passes the filter.
void UpdMessage(int level, const char* format, ...) RV_PRINTF(2, 3);

// The configured LogLevel (0-9) once a configuration is loaded; -1 (the
// start) means none is loaded and every level reaches the log.
void UpdMessageSetLogLevel(int log_level);

// Test mode (option -T): levels 3 and above always reach the log.
void UpdMessageSetTestMode(int on);

// Starts a new request's record of failures: forgets the last message of
// level 8 or 9 (a failure) kept so far.
void UpdMessageBeginRequest();

// The last message of level 8 or 9 since UpdMessageBeginRequest, or "" when
// there was none.
std::string UpdMessageLastError();

// The text of the last message of any level ("" before the first).
std::string UpdMessageLast();
