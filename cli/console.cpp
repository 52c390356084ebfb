#include "cli/console.h"

#include "cli/commands.h"

#include <array>
#include <iostream>
#include <streambuf>

namespace edbcli {
namespace {

// A buffer in front of the platform's write. After the first failure nothing more is written:
// the command runs to its end, and the failure is said once, when it is known for sure.
class CheckedOutput : public std::streambuf {
public:
    CheckedOutput() { setp(m_buf.data(), m_buf.data() + m_buf.size()); }
    [[nodiscard]] int error() const { return m_error; }

protected:
    int_type overflow(int_type ch) override {
        if (drain() != 0) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n <= epptr() - pptr()) {
            traits_type::copy(pptr(), s, static_cast<std::size_t>(n));
            pbump(static_cast<int>(n));
            return n;
        }
        // Larger than what is left: what is buffered goes first, then the text itself.
        if (drain() != 0 || put(s, static_cast<std::size_t>(n)) != 0) {
            return 0;
        }
        return n;
    }
    int sync() override { return drain() == 0 ? 0 : -1; }

private:
    int drain() {
        const auto n = static_cast<std::size_t>(pptr() - pbase());
        setp(m_buf.data(), m_buf.data() + m_buf.size());
        return put(m_buf.data(), n);
    }
    int put(const char* data, std::size_t size) {
        if (m_error == 0 && size > 0) {
            m_error = WriteStandardOutput(data, size);
        }
        return m_error;
    }

    std::array<char, 1 << 16> m_buf{};
    int m_error = 0;
};

CheckedOutput& checkedOutput() {
    static auto* const out = new CheckedOutput(); // lives until the process ends, as std::cout
    return *out;
}

} // namespace

void SetUpConsole() {
    PrepareStandardStreams();
    std::cout.rdbuf(&checkedOutput());
}

int OutputError() {
    return checkedOutput().error();
}

int FinishConsole(int status) {
    std::cout.flush();
    const int code = OutputError();
    if (code == 0) {
        if (g_storeChanged && status == 0) {
            return 1;
        }
        return g_storeIncomplete && (status == 0 || status == 2) ? kExitIncomplete : status;
    }
    if (IsClosedPipe(code)) {
        EndOnClosedPipe();
    }
    std::cerr << "edb2eml: cannot write to standard output: " << SystemErrorText(code) << '\n';
    return 1;
}

} // namespace edbcli
