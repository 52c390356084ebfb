#pragma once
// SHA-256 (FIPS 180-4), for the manifest that lets an export be checked later. Our own: the
// Windows build has no hashing library, and one small file serves both builds alike.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace edb::conv {

class Sha256 {
public:
    Sha256();
    void update(const void* data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    [[nodiscard]] std::string hex();

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> m_state{};
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_used = 0;
    std::uint64_t m_length = 0; // bytes
};

[[nodiscard]] std::string Sha256Hex(std::string_view bytes);

// The digest of `length` bytes of the regular file `p` from `offset` (the whole file when
// `length` is npos), a link not followed. False when it cannot be read or is shorter.
[[nodiscard]] bool Sha256OfFile(const std::filesystem::path& p, std::string& digest,
                                std::uint64_t offset = 0, std::uint64_t length = UINT64_MAX);

} // namespace edb::conv
