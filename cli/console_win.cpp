// Standard output on Windows. The streams are put in binary mode (a .eml or JSON byte stream
// must not gain carriage returns), and text bound for a console window is handed over as UTF-16,
// so names in any script show whatever the console's code page; files and pipes get the UTF-8
// bytes unchanged. stderr's own text goes out as UTF-8 with the console switched to that code
// page until the program ends.
#include "cli/console.h"
#include "io/wide_names.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace edbcli {
namespace {

UINT g_oldOutputCodePage = 0;

void restoreCodePage() {
    if (g_oldOutputCodePage != 0) {
        ::SetConsoleOutputCP(g_oldOutputCodePage);
    }
}

int errnoFromWindows(DWORD code) {
    switch (code) {
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

int writeAll(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD want = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD wrote = 0;
        if (!::WriteFile(h, data, want, &wrote, nullptr)) {
            return errnoFromWindows(::GetLastError());
        }
        if (wrote == 0) {
            return EIO;
        }
        data += wrote;
        size -= wrote;
    }
    return 0;
}

// A UTF-8 sequence cut by the output buffer's edge waits here for its rest.
std::string g_consoleCarry;

std::size_t completePrefix(const std::string& text) {
    std::size_t end = text.size();
    std::size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) {
        ++back;
    }
    if (back < end) {
        const auto lead = static_cast<unsigned char>(text[end - 1 - back]);
        const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (need > back + 1) {
            return end - 1 - back;
        }
    }
    return end;
}

int writeConsole(HANDLE h, const char* data, std::size_t size) {
    g_consoleCarry.append(data, size);
    const std::size_t whole = completePrefix(g_consoleCarry);
    const std::wstring wide = edb::WideFromUtf8(std::string_view(g_consoleCarry).substr(0, whole));
    g_consoleCarry.erase(0, whole);
    const wchar_t* at = wide.data();
    std::size_t left = wide.size();
    while (left > 0) {
        const DWORD want = left > 8192 ? 8192 : static_cast<DWORD>(left);
        DWORD wrote = 0;
        if (!::WriteConsoleW(h, at, want, &wrote, nullptr)) {
            return errnoFromWindows(::GetLastError());
        }
        if (wrote == 0) {
            return EIO;
        }
        at += wrote;
        left -= wrote;
    }
    return 0;
}

bool isConsole(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

} // namespace

void PrepareStandardStreams() {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    if (isConsole(::GetStdHandle(STD_ERROR_HANDLE)) ||
        isConsole(::GetStdHandle(STD_OUTPUT_HANDLE))) {
        const UINT old = ::GetConsoleOutputCP();
        if (old != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
            g_oldOutputCodePage = old;
            std::atexit(restoreCodePage);
        }
    }
}

int WriteStandardOutput(const char* data, std::size_t size) {
    const HANDLE h = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return EBADF;
    }
    return isConsole(h) ? writeConsole(h, data, size) : writeAll(h, data, size);
}

bool IsClosedPipe(int code) {
    return code == EPIPE;
}

void EndOnClosedPipe() {
    // Windows has no signal for it: the reader went away, the program stops without a word.
    restoreCodePage();
    std::_Exit(1);
}

// The words the POSIX build prints for the codes a write gives, so messages read alike.
bool StandardErrorIsTerminal() {
    return isConsole(::GetStdHandle(STD_ERROR_HANDLE));
}

std::string SystemErrorText(int code) {
    switch (code) {
    case EPIPE: return "Broken pipe";
    case ENOSPC: return "No space left on device";
    case EIO: return "Input/output error";
    case EACCES: return "Permission denied";
    case EBADF: return "Bad file descriptor";
    default: return std::strerror(code);
    }
}

} // namespace edbcli
