#include "io/temp_file.h"

#include <cerrno>
#include <cstdlib>

#include <unistd.h>

namespace edb {

PrivateTempFile::PrivateTempFile(const char* prefix) {
    // TMPDIR as the user set it: a folder that cannot take the file is said, never swapped
    // for another behind the user's back.
    const char* env = std::getenv("TMPDIR");
    m_directory = env != nullptr && env[0] != '\0' ? env : "/tmp";
    std::string pattern = m_directory;
    if (pattern.back() != '/') {
        pattern += '/';
    }
    pattern += std::string(prefix) + "XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        m_error = errno;
        return;
    }
    m_file = ::fdopen(fd, "w+b");
    if (m_file == nullptr) {
        m_error = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        return;
    }
    m_path = std::move(pattern);
}

void PrivateTempFile::removeName() {
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

PrivateTempFile::~PrivateTempFile() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
    }
}

} // namespace edb
