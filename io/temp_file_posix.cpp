#include "io/temp_file.h"

#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace edb {

PrivateTempFile::PrivateTempFile(const char* prefix) {
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) {
        dir = "/tmp";
    }
    std::string pattern = (dir / (std::string(prefix) + "XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        return;
    }
    m_file = ::fdopen(fd, "w+b");
    if (m_file == nullptr) {
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
