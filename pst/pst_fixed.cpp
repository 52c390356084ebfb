#include "pst/pst_fixed.h"

#include "pst/ltp_context.h"
#include "pst/mapi_tags.h"
#include "pst/pst_message.h"

namespace edb::pst {

std::vector<std::uint32_t> HierarchyColumns() {
    return {tag::kDisplayName, tag::kContentCount, tag::kContentUnreadCount, tag::kSubfolders,
            tag::kContainerClass, tag::kPstHiddenCount, tag::kPstHiddenUnread};
}

std::vector<std::uint32_t> AssocColumns() {
    return {tag::kMessageClass, tag::kSubject, tag::kMessageFlags, tag::kMessageStatus,
            tag::kDisplayName};
}

namespace {

// An empty folder as a template holds it: no name, nothing in it, no subfolders.
PropertyBag EmptyFolder() {
    PropertyBag p;
    p.setString(tag::kDisplayName, "");
    p.setLong(tag::kContentCount, 0);
    p.setLong(tag::kContentUnreadCount, 0);
    p.setBool(tag::kSubfolders, false);
    return p;
}

} // namespace

void WriteFixedNodes(NdbWriter& ndb) {
    ndb.addNode(kNormalFolderTemplateNid, WritePropertyContext(ndb, EmptyFolder()), 0);
    ndb.addNode(kSearchFolderTemplateNid, WritePropertyContext(ndb, EmptyFolder()), 0);

    // The search machinery's queues and lists (the search management queue, the activity
    // list, the domain object, the gatherer's queues and descriptor, and the reserved ones):
    // a file nobody has searched yet holds each as a node with no entries, that is an empty
    // data stream.
    constexpr std::uint32_t kSearchNodes[] = {0x1E1, 0x201, 0x241, 0x261, 0x281,
                                              0x2A1, 0x2E1, 0x301, 0x321};
    constexpr std::uint8_t kNothing = 0;
    for (const std::uint32_t nid : kSearchNodes) {
        ndb.addNode(nid, NodeRef{ndb.writeData(&kNothing, 0), 0}, 0);
    }

    ndb.addNode(kHierarchyTemplateNid, WriteTableContext(ndb, HierarchyColumns(), {}), 0);
    ndb.addNode(kContentsTemplateNid, WriteTableContext(ndb, ContentsColumns(), {}), 0);
    ndb.addNode(kAssocTemplateNid, WriteTableContext(ndb, AssocColumns(), {}), 0);
    // A search folder's contents table also names the folder each hit was found in.
    std::vector<std::uint32_t> searchContents = ContentsColumns();
    searchContents.push_back(tag::kParentDisplay);
    ndb.addNode(kSearchContentsTemplateNid, WriteTableContext(ndb, searchContents, {}), 0);
    ndb.addNode(kAttachmentTemplateNid, WriteTableContext(ndb, AttachmentColumns(), {}), 0);
    ndb.addNode(kRecipientTemplateNid, WriteTableContext(ndb, RecipientColumns(), {}), 0);
    ndb.addNode(kSearchTableTemplateNid, WriteTableContext(ndb, {}, {}), 0);
}

} // namespace edb::pst
