// Windows scratch files: created new under a random name in the user's temporary folder, marked
// delete-on-close so the system removes them however the program ends.
#define _CRT_RAND_S
#include "io/temp_file.h"
#include "io/wide_names.h"

#include <cerrno>
#include <cstdlib>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace edb {

namespace {
int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        return ENOENT;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}
} // namespace

PrivateTempFile::PrivateTempFile(const char* prefix) {
    wchar_t dir[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH) {
        m_directory = "the temporary folder (TMP)";
        m_error = ENAMETOOLONG;
        return;
    }
    m_directory = Utf8FromWide(dir);
    const std::wstring widePrefix = WideFromUtf8(prefix);
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned int a = 0;
        unsigned int b = 0;
        if (rand_s(&a) != 0 || rand_s(&b) != 0) {
            m_error = EIO;
            return;
        }
        wchar_t suffix[24];
        std::swprintf(suffix, 24, L"%08x%08x.tmp", a, b);
        const std::wstring path = std::wstring(dir) + widePrefix + suffix;
        const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                       nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_FILE_EXISTS) {
                continue;
            }
            m_error = errnoOf(err);
            return;
        }
        const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
        if (fd < 0) {
            m_error = EMFILE;
            ::CloseHandle(h);
            return;
        }
        m_file = ::_fdopen(fd, "w+b");
        if (m_file == nullptr) {
            m_error = errno;
            ::_close(fd);
            return;
        }
        m_path = Utf8FromWide(path);
        return;
    }
    m_error = EEXIST;
}

// The name goes with the last handle (delete-on-close); only the record of it is dropped here.
void PrivateTempFile::removeName() {
    m_path.clear();
}

PrivateTempFile::~PrivateTempFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

} // namespace edb
