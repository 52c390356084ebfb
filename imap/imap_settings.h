#pragma once
// What an IMAP session is opened with, and the error it and its connection throw.
#include "imap/imap_url.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace edb::conv {

class ImapError : public std::runtime_error {
public:
    // Security: no encryption offered, or a certificate that cannot be trusted.
    enum class Kind { Login, Connection, Security, Server };
    ImapError(Kind kind, const std::string& what) : std::runtime_error(what), m_kind(kind) {}
    [[nodiscard]] Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

struct ImapSettings {
    ImapUrl url;
    std::string password;
    // imap:// to a server without STARTTLS may log in unencrypted (STARTTLS is still used
    // when offered). Without it the password never leaves unencrypted.
    bool allowUnencrypted = false;
    std::string caFile; // PEM certificates trusted besides the system's
    // How long one wait for the server may last; a whole command gets a few times that.
    std::chrono::seconds timeout{60};
    // When set and true, the connection gives up within a fraction of a second ("cancelled"):
    // a window that closes need not wait out the timeout.
    std::shared_ptr<const std::atomic<bool>> cancel;
    // How the front end tells the user what to do, in error texts.
    std::string unencryptedHint = "use --no-tls to send the password unencrypted";
    std::string trustHint = "to trust it, give its certificate or CA with --ca FILE";
};

} // namespace edb::conv
