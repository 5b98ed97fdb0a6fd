// Placeholder until the message function lands.
#include "runtime/message.h"
void UpdMessage(int, const char*, ...) {}
void UpdMessageSetLogLevel(int) {}
void UpdMessageSetTestMode(int) {}
