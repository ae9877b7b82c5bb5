#pragma once
// The running process and the machine it runs on, as each system tells them:
// ProcessPosix.cpp and ProcessWindows.cpp.

namespace vellumcast::core {

// The id of this process.
long CurrentProcessId();

// How many processors this process may run on: its affinity where the system restricts
// it, else every processor; at least 1.
unsigned UsableCores();

// Standard input, output and error carry bytes exactly as written: on Windows they are
// put in binary mode, so no line feed gains a carriage return. Nothing to do elsewhere.
void UseBinaryStandardStreams();

// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

} // namespace vellumcast::core
