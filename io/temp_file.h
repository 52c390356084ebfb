#pragma once
// A private scratch file: created exclusively under a unique, unpredictable name in the
// temporary directory (a fixed name in a shared directory can be planted or raced), opened for
// binary reading and writing, and removed when the object goes, on every path.
#include <cstdio>
#include <stdexcept>
#include <string>

namespace edb {

// A scratch file the program needs could not be made: the message names the folder and why.
class TempFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PrivateTempFile {
public:
    explicit PrivateTempFile(const char* prefix);
    ~PrivateTempFile();
    PrivateTempFile(const PrivateTempFile&) = delete;
    PrivateTempFile& operator=(const PrivateTempFile&) = delete;

    [[nodiscard]] bool ok() const { return m_file != nullptr; }
    [[nodiscard]] std::FILE* file() const { return m_file; }
    [[nodiscard]] const std::string& path() const { return m_path; }
    // Where it was made, or was to be made: TMPDIR (TMP or TEMP on Windows) or the system's.
    [[nodiscard]] const std::string& directory() const { return m_directory; }
    // Throws TempFileError, naming the folder and the system's reason, unless ok().
    void requireOk() const;
    // Removes the name now; the file lives on while it is open.
    void removeName();

private:
    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_directory;
    int m_error = 0; // the system's error code when the file could not be made
};

// Makes and removes a scratch file, so that a temporary folder that cannot take one stops a
// command before it starts its work; throws TempFileError.
void CheckTempDirectory();

} // namespace edb
