#include "tests/win32/read_faults_win.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace edbwintest {
namespace {

using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);

ReadFileFn g_real = nullptr;
std::atomic<bool> g_armed{false};
// Set before g_armed, read after it.
DWORD g_volume = 0;
std::uint64_t g_index = 0;
std::uint64_t g_from = 0;
std::uint64_t g_to = 0;

bool Identify(HANDLE h, DWORD& volume, std::uint64_t& index) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        return false;
    }
    volume = info.dwVolumeSerialNumber;
    index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

BOOL WINAPI FailingReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD read,
                            LPOVERLAPPED overlapped) {
    if (g_armed.load(std::memory_order_acquire) && overlapped != nullptr) {
        const std::uint64_t at =
            (std::uint64_t{overlapped->OffsetHigh} << 32) | overlapped->Offset;
        DWORD volume = 0;
        std::uint64_t index = 0;
        if (at < g_to && at + count > g_from && Identify(h, volume, index) &&
            volume == g_volume && index == g_index) {
            SetLastError(ERROR_CRC);
            return FALSE;
        }
    }
    return g_real(h, buffer, count, read, overlapped);
}

// Points the program's import of kernel32's ReadFile at FailingReadFile, once.
void Redirect() {
    if (g_real != nullptr) {
        return;
    }
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name != 0; ++d) {
        if (_stricmp(reinterpret_cast<const char*>(base + d->Name), "kernel32.dll") != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "ReadFile") != 0) {
                continue;
            }
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            g_real = reinterpret_cast<ReadFileFn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&FailingReadFile);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return;
        }
    }
}

} // namespace

void FailReads(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t length) {
    Redirect();
    const HANDLE h = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return;
    }
    const bool known = Identify(h, g_volume, g_index);
    CloseHandle(h);
    g_from = offset;
    g_to = offset + length;
    g_armed.store(known && g_real != nullptr, std::memory_order_release);
}

void StopFailingReads() {
    g_armed.store(false, std::memory_order_release);
}

} // namespace edbwintest
