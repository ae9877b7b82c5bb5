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

// Makes the console that standard output or error write to, if any, show UTF-8: on
// Windows its output code page becomes UTF-8, so a name in any script reads right in a
// cmd window on code page 437 or 850, and it takes the escape sequences that erase a
// progress line; the code page it had is given back when the program ends (at exit, on
// Ctrl+C or Ctrl+Break, or through RestoreConsole). Nothing to do elsewhere: terminals
// take UTF-8 as it comes.
void UseUtf8Console();

// Gives the console back what UseUtf8Console changed, for a program ending without its
// exit handlers; harmless when nothing was changed.
void RestoreConsole() noexcept;

// True when standard error is a terminal that takes escape sequences (a console on
// Windows, once UseUtf8Console made it take them).
bool StandardErrorIsTerminal();

} // namespace vellumcast::core
