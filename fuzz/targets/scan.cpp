// The whole scan on a store file made of the input.
#include "cli/json_catalog.h"
#include "fuzz/fuzz_context.h"
#include "views/message_list.h"
#include "catalog/tree_build.h"

namespace {
class FolderSink : public edb::TreeSink {
public:
    edb::TreeItem insertItem(edb::TreeItem, const std::string&, char, const std::string&,
                             std::size_t folder) override {
        folders.push_back(folder);
        return folders.size();
    }
    std::vector<std::size_t> folders;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    edbfuzz::MemoryStore& store = edbfuzz::memoryStore();
    store.assign(data, size);
    edb::StoreCatalog catalog;
    edbfuzz::QuietHost host;
    const edb::ScanResult result = edb::RunScan(catalog, store.path(), host);
    // The dump must always be valid JSON (texts from the store included).
    (void)edbcli::catalogJsonText(catalog, result);
    if (result.outcome != edb::ScanOutcome::Complete) {
        return 0;
    }
    // What a user does next: pick each mailbox, build its tree, list every folder.
    for (const edb::FolderNode& mailbox : catalog.mailboxList) {
        FolderSink sink;
        (void)edb::BuildFolderTree(catalog, mailbox, sink);
        for (const std::size_t folder : sink.folders) {
            (void)edb::views::ListMessages(catalog, folder);
        }
    }
    return 0;
}
