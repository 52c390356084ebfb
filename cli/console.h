#pragma once
// Standard output of edb2eml. Everything the commands print goes through one checked writer:
// a write that fails (a full disk) is reported once at the end with the system's reason and
// exit status 1, and a closed pipe (`| head`) ends the process quietly, as other tools end.
// The platform's part (how bytes reach the descriptor, the end on a closed pipe, and on some
// systems binary mode and the console's code page) sits in console_<system>.cpp.
#include <cstddef>
#include <string>

namespace edbcli {

// Once, first thing in main: std::cout writes through the checked writer from here on.
void SetUpConsole();

// After the command: flushes std::cout and turns a failed write into the message on stderr and
// exit status 1; a closed pipe ends the process here. Returns the status to exit with.
[[nodiscard]] int FinishConsole(int status);

// The system error code of the first failed write to standard output, 0 while all went out.
[[nodiscard]] int OutputError();

// ---- the platform's part ----

// Puts the standard streams in the state the writer expects (binary, UTF-8 where that is a
// choice). Called by SetUpConsole.
void PrepareStandardStreams();
// Writes all of `size` bytes to standard output: 0, or the system error code of the failure.
[[nodiscard]] int WriteStandardOutput(const char* data, std::size_t size);
// True for the code a write to a closed pipe gives.
[[nodiscard]] bool IsClosedPipe(int code);
// Ends the process as a closed pipe ends other tools of the system.
[[noreturn]] void EndOnClosedPipe();
// True when standard error is a terminal or console window (a progress bar is drawn there).
[[nodiscard]] bool StandardErrorIsTerminal();
// The system's words for an error code.
[[nodiscard]] std::string SystemErrorText(int code);

} // namespace edbcli
