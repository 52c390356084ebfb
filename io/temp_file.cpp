// The parts of the scratch files that are the same on every system.
#include "io/file64.h"
#include "io/temp_file.h"

namespace edb {

void PrivateTempFile::requireOk() const {
    if (ok()) {
        return;
    }
    throw TempFileError("cannot create a temporary file in " + m_directory + ": " +
                        SystemErrorText(m_error) + " (TMPDIR names the folder to use)");
}

void CheckTempDirectory() {
    const PrivateTempFile probe("edb2eml-check-");
    probe.requireOk();
}

} // namespace edb
