// Threads of this process (-1 when they cannot be counted).
#pragma once

int ThreadCount();

// False, saying so on standard error, when more threads run now than
// `before` did, before `call` was made.
bool NoThreadLeft(int before, const char* call);
