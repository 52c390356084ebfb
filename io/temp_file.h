#pragma once
// A private scratch file: created exclusively under a unique, unpredictable name in the
// temporary directory (a fixed name in a shared directory can be planted or raced), opened for
// binary reading and writing, and removed when the object goes, on every path.
#include <cstdio>
#include <string>

namespace edb {

class PrivateTempFile {
public:
    explicit PrivateTempFile(const char* prefix);
    ~PrivateTempFile();
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    [[nodiscard]] std::FILE* file() const { return m_file; }
    [[nodiscard]] const std::string& path() const { return m_path; }
    // Removes the name now; the file lives on while it is open.
    void removeName();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

} // namespace edb
