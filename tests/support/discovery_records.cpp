#include "tests/support/discovery_records.h"

#include <stdexcept>

namespace edbtest {

Id8 makeId(std::uint64_t n) {
    Id8 id{0x01, 0x00};
    for (int i = 0; i < 6; ++i) {
        id[2 + i] = static_cast<std::uint8_t>(n >> (8 * (5 - i)));
    }
    return id;
}

std::size_t writeMailboxRecord(Page& page, std::size_t a, int form, const Id8& id,
                               std::u16string_view name) {
    const std::size_t b = a + (form == 1 ? 61 : 63);
    const std::uint8_t len = 10;
    const std::uint8_t m = 8;
    page.put(a, {0xFF, 0xFF, 0xFF, 0xFF});   // anchor
    page.u8(b, len);                          // length byte L
    page.put(b + 2, std::vector<std::uint8_t>(id.begin(), id.end())); // mailbox id
    page.u8(b + len + 3, 0x01);               // marker
    page.u8(b + len + 8, m);                  // offset byte M
    const std::size_t nameAt = b + len + 3 + m;
    page.utf16(nameAt, name);
    page.u16le(nameAt + 2 * name.size(), 0);  // terminator
    return nameAt + 2 * name.size() + 2;
}

namespace {
constexpr std::size_t kS1 = 20;      // A - 10 + s1 + 3 = U
constexpr std::size_t kNameAt = 32;  // name offset X from U
constexpr std::size_t kMarkerAt = 16; // container-class marker from U
} // namespace

std::size_t folderRecordSize(const FolderRecordSpec& spec) {
    // From A - 10 to the end of the class text.
    return 10 + 13 + kNameAt + 2 * spec.name.size() + 4 + 2 * spec.containerClass.size() + 2;
}

std::size_t writeFolderRecord(Page& page, std::size_t a, const FolderRecordSpec& spec) {
    if (a < 100) {
        throw std::invalid_argument("folder record anchor below 100 is never a candidate");
    }
    page.u16le(a - 10, kS1);                                             // s1
    page.put(a - 8, std::vector<std::uint8_t>(spec.id.begin(), spec.id.end()));     // own id
    page.put(a, std::vector<std::uint8_t>(spec.parentId.begin(), spec.parentId.end())); // parent
    const std::size_t u = a - 10 + kS1 + 3;
    page.u8(u, 0x01);
    page.put(u + 3, {0x04, 0x01});
    page.put(u + 7, {0x05, 0x01});
    // Name descriptor at V: offset X (12 bits), length Y = (V4 - V0) + g(h).
    const std::size_t v = u + 9;
    const int y = static_cast<int>(2 * spec.name.size() + 2);
    const int v0 = kNameAt & 0xFF;
    int h = 0;
    int v4 = v0 + y;
    if (v4 > 255) {
        h = v0 + y - 256 <= 255 ? 1 : 2;
        v4 = v0 + y - 256 * h;
    }
    page.put(v, {static_cast<std::uint8_t>(v0), static_cast<std::uint8_t>(kNameAt >> 8), 0, 0,
                 static_cast<std::uint8_t>(v4), static_cast<std::uint8_t>(h)});
    const std::size_t nameAt = u + kNameAt;
    page.utf16(nameAt, spec.name);
    page.u16le(nameAt + 2 * spec.name.size(), 0);
    std::size_t end = nameAt + 2 * spec.name.size() + 2;
    if (!spec.containerClass.empty()) {
        const std::size_t w = end + 2 - u;
        page.put(u + kMarkerAt, {0x47, 0x01, static_cast<std::uint8_t>(w & 0xFF),
                                 static_cast<std::uint8_t>((w >> 8) & 0x0F)});
        page.utf16(u + w, spec.containerClass);
        end = u + w + 2 * spec.containerClass.size();
        page.u16le(end, 0);
        end += 2;
    }
    return end;
}

void addFolderPages(StoreBuilder& store, const std::vector<FolderRecordSpec>& folders) {
    std::size_t i = 0;
    while (i < folders.size()) {
        Page& page = store.page(store.addPage(8));
        std::size_t at = 120;
        while (i < folders.size() && at + folderRecordSize(folders[i]) + 16 < kPage) {
            at = writeFolderRecord(page, at, folders[i]) + 16;
            ++i;
        }
        if (at == 120) {
            throw std::invalid_argument("folder record larger than a page");
        }
    }
}

} // namespace edbtest
