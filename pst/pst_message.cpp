#include "pst/pst_message.h"

#include "pst/mapi_tags.h"

#include <algorithm>
#include <cctype>

namespace edb::pst {
namespace {

constexpr std::uint32_t kRecipientTableNid = 0x692;
constexpr std::uint32_t kAttachmentTableNid = 0x671;
constexpr std::uint32_t kMsgFlagRead = 0x01;
constexpr std::uint32_t kMsgFlagHasAttach = 0x10;

void SetText(PropertyBag& bag, std::uint32_t t, const std::string& v) {
    if (!v.empty()) {
        bag.setString(t, v);
    }
}

std::string Joined(const std::vector<Recipient>& rs, int type) {
    std::string out;
    for (const Recipient& r : rs) {
        if (r.type != type) {
            continue;
        }
        out += out.empty() ? "" : "; ";
        out += r.name.empty() ? r.address : r.name;
    }
    return out;
}

std::string Extension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
}

NodeRef WriteRecipients(NdbWriter& ndb, const std::vector<Recipient>& recipients) {
    std::vector<TableRow> rows;
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        const Recipient& r = recipients[i];
        TableRow row;
        row.id = static_cast<std::uint32_t>(i);
        row.values.setLong(tag::kRecipientType, static_cast<std::uint32_t>(r.type));
        SetText(row.values, tag::kDisplayName, r.name.empty() ? r.address : r.name);
        if (!r.address.empty()) {
            row.values.setString(tag::kAddressType, "SMTP");
            row.values.setString(tag::kEmailAddress, r.address);
            row.values.setString(tag::kSmtpAddress, r.address);
        }
        row.values.setLong(tag::kObjectType, 6); // a mail user
        row.values.setLong(tag::kDisplayType, 0);
        row.values.setBool(tag::kResponsibility, false);
        rows.push_back(std::move(row));
    }
    return WriteTableContext(ndb, RecipientColumns(), rows);
}

} // namespace

std::string SubjectPrefix(const std::string& subject) {
    const auto colon = subject.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 3 || colon + 2 >= subject.size() ||
        subject[colon + 1] != ' ') {
        return {};
    }
    for (std::size_t i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(subject[i]);
        if ((c >= '0' && c <= '9') || c == ' ' || c < 0x20 || c >= 0x80) {
            return {};
        }
    }
    return subject.substr(0, colon + 2);
}

std::vector<std::uint32_t> ContentsColumns() {
    return {tag::kImportance,         tag::kMessageClass,        tag::kSensitivity,
            tag::kSubject,            tag::kClientSubmitTime,    tag::kSentRepresentingName,
            tag::kMessageToMe,        tag::kMessageCcMe,         tag::kConversationTopic,
            tag::kDisplayCc,          tag::kDisplayTo,           tag::kMessageDeliveryTime,
            tag::kMessageFlags,       tag::kMessageSize,         tag::kMessageStatus,
            tag::kLastModificationTime};
}

std::vector<std::uint32_t> RecipientColumns() {
    return {tag::kRecipientType, tag::kDisplayName,  tag::kAddressType,
            tag::kEmailAddress,  tag::kSmtpAddress,  tag::kObjectType,
            tag::kDisplayType,   tag::kResponsibility};
}

std::vector<std::uint32_t> AttachmentColumns() {
    return {tag::kAttachSize, tag::kAttachFilename, tag::kAttachMethod, tag::kRenderingPosition};
}

std::string ShortFileName(const std::string& longName) {
    auto clean = [](const std::string& s, std::size_t max) {
        std::string out;
        for (const char c : s) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x80 && std::isalnum(u) != 0 && out.size() < max) {
                out += static_cast<char>(std::toupper(u));
            }
        }
        return out;
    };
    const std::string ext = Extension(longName);
    const std::string stem = longName.substr(0, longName.size() - ext.size());
    std::string base = clean(stem, 64);
    const std::string e = clean(ext, 3);
    if (base.empty()) {
        base = "ATTACH";
    }
    if (base.size() > 8 || clean(stem, 64).size() != stem.size()) {
        base = base.substr(0, 6) + "~1";
    }
    return e.empty() ? base : base + "." + e;
}

WrittenMessage WriteMessage(NdbWriter& ndb, const Message& m, std::uint32_t nid) {
    std::vector<SubnodeEntry> subnodes;
    subnodes.push_back({kRecipientTableNid, WriteRecipients(ndb, m.recipients)});
    std::uint64_t size = 0;
    if (!m.attachments.empty()) {
        std::vector<TableRow> rows;
        for (std::size_t i = 0; i < m.attachments.size(); ++i) {
            const Attachment& a = m.attachments[i];
            const std::uint32_t anid = MakeNid(kNidAttachment, 0x401 + static_cast<std::uint32_t>(i));
            const std::string name = a.name.empty() ? "attachment" : a.name;
            PropertyBag p;
            p.setLong(tag::kAttachMethod, 1); // by value
            p.set(tag::kAttachDataBinary, a.bytes);
            p.setString(tag::kAttachLongFilename, name);
            p.setString(tag::kAttachFilename, ShortFileName(name));
            p.setString(tag::kDisplayName, name);
            SetText(p, tag::kAttachExtension, Extension(name));
            SetText(p, tag::kAttachMimeTag, a.mimeType);
            SetText(p, tag::kAttachContentId, a.contentId);
            p.setLong(tag::kAttachSize, static_cast<std::uint32_t>(a.bytes.size()));
            p.setLong(tag::kRenderingPosition, 0xFFFFFFFF);
            subnodes.push_back({anid, WritePropertyContext(ndb, p)});
            TableRow row;
            row.id = anid;
            row.values.setLong(tag::kAttachSize, static_cast<std::uint32_t>(a.bytes.size()));
            row.values.setString(tag::kAttachFilename, ShortFileName(name));
            row.values.setLong(tag::kAttachMethod, 1);
            row.values.setLong(tag::kRenderingPosition, 0xFFFFFFFF);
            rows.push_back(std::move(row));
            size += a.bytes.size();
        }
        subnodes.push_back(
            {kAttachmentTableNid,
             WriteTableContext(ndb, AttachmentColumns(), rows)});
    }

    PropertyBag p = m.extra;
    p.setString(tag::kMessageClass, m.messageClass);
    const std::string prefix = SubjectPrefix(m.subject);
    const std::string normalized = m.subject.substr(prefix.size());
    // Stored as PST files keep it: a marker and the prefix length before the text, which
    // readers strip (and without which some take a first character for such a marker).
    p.setString(tag::kSubject,
                std::string{'\x01', static_cast<char>(prefix.size() + 1)} + m.subject);
    SetText(p, tag::kSubjectPrefix, prefix);
    p.setString(tag::kNormalizedSubject, normalized);
    p.setString(tag::kConversationTopic, normalized);
    SetText(p, tag::kSenderName, m.senderName);
    SetText(p, tag::kSentRepresentingName, m.senderName);
    if (!m.senderAddress.empty()) {
        for (const auto t : {tag::kSenderEmailAddress, tag::kSenderSmtpAddress,
                             tag::kSentRepresentingEmailAddress,
                             tag::kSentRepresentingSmtpAddress}) {
            p.setString(t, m.senderAddress);
        }
        p.setString(tag::kSenderAddressType, "SMTP");
        p.setString(tag::kSentRepresentingAddressType, "SMTP");
    }
    SetText(p, tag::kDisplayTo, Joined(m.recipients, 1));
    SetText(p, tag::kDisplayCc, Joined(m.recipients, 2));
    SetText(p, tag::kDisplayBcc, Joined(m.recipients, 3));
    const std::pair<std::uint32_t, std::uint64_t> times[] = {
        {tag::kClientSubmitTime, m.submitTime},
        {tag::kMessageDeliveryTime, m.deliveryTime},
        {tag::kCreationTime, m.creationTime},
        {tag::kLastModificationTime, m.modificationTime}};
    for (const auto& [t, v] : times) {
        if (v != 0) {
            p.setTime(t, v);
        }
    }
    if (m.body) {
        p.setString(tag::kBody, *m.body);
        size += m.body->size();
    }
    if (m.html) {
        p.set(tag::kHtml, Bytes(m.html->begin(), m.html->end()));
        size += m.html->size();
    }
    if (m.rtfCompressed) {
        p.set(tag::kRtfCompressed, *m.rtfCompressed);
        p.setBool(tag::kRtfInSync, !m.body && !m.html);
        size += m.rtfCompressed->size();
    }
    p.setLong(tag::kInternetCodepage, 65001);
    p.setLong(tag::kMessageCodepage, 65001);
    SetText(p, tag::kInternetMessageId, m.internetMessageId);
    SetText(p, tag::kTransportMessageHeaders, m.transportHeaders);
    const std::uint32_t flags =
        (m.read ? kMsgFlagRead : 0) | (m.attachments.empty() ? 0 : kMsgFlagHasAttach);
    p.setLong(tag::kMessageFlags, flags);
    p.setLong(tag::kMessageStatus, 0);
    p.setLong(tag::kImportance, 1);
    p.setLong(tag::kSensitivity, 0);
    size += m.subject.size() + 1024;
    p.setLong(tag::kMessageSize, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0x7FFFFFFF)));

    WrittenMessage out;
    out.ref = WritePropertyContext(ndb, p, std::move(subnodes));
    out.contentsRow.id = nid;
    for (const std::uint32_t t : ContentsColumns()) {
        if (const Bytes* v = p.find(t)) {
            out.contentsRow.values.set(t, *v);
        }
    }
    out.contentsRow.values.setBool(tag::kMessageToMe, false);
    out.contentsRow.values.setBool(tag::kMessageCcMe, false);
    return out;
}

} // namespace edb::pst
