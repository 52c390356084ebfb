// The whole scan on a store file made of the input.
#include "cli/json_catalog.h"
#include "fuzz/fuzz_context.h"
#include "catalog/list_rows.h"
#include "catalog/tree_build.h"

namespace {
class CountingSink : public edb::TreeSink {
public:
    edb::TreeItem insertItem(edb::TreeItem, const std::string&, int, const std::string&) override {
        return ++m_items;
    }

private:
    edb::TreeItem m_items = 0;
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
    std::int32_t step = 0;
    for (std::int32_t mark = 0; mark < static_cast<std::int32_t>(catalog.mailboxList.size());
         ++mark) {
        if (!edb::ChooseMailbox(catalog, mark, step)) {
            break;
        }
        edb::ClearTreeItems(catalog);
        CountingSink sink;
        const edb::TreeBuildResult built = edb::BuildFolderTree(catalog, step, sink);
        for (edb::TreeItem item = 1; item <= built.items; ++item) {
            (void)edb::ListMessages(catalog, item);
        }
    }
    return 0;
}
