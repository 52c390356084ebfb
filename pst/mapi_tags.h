#pragma once
// The property tags this writer sets: id in the high 16 bits, type in the low 16.
#include <cstdint>

namespace edb::pst::tag {

inline constexpr std::uint32_t kNameidBucketCount = 0x00010003;
inline constexpr std::uint32_t kNameidStreamGuid = 0x00020102;
inline constexpr std::uint32_t kNameidStreamEntry = 0x00030102;
inline constexpr std::uint32_t kNameidStreamString = 0x00040102;
inline constexpr std::uint32_t kImportance = 0x00170003;
inline constexpr std::uint32_t kMessageClass = 0x001A001F;
inline constexpr std::uint32_t kSensitivity = 0x00360003;
inline constexpr std::uint32_t kSubject = 0x0037001F;
inline constexpr std::uint32_t kClientSubmitTime = 0x00390040;
inline constexpr std::uint32_t kSubjectPrefix = 0x003D001F;
inline constexpr std::uint32_t kSentRepresentingName = 0x0042001F;
inline constexpr std::uint32_t kMessageToMe = 0x0057000B;
inline constexpr std::uint32_t kMessageCcMe = 0x0058000B;
inline constexpr std::uint32_t kSentRepresentingAddressType = 0x0064001F;
inline constexpr std::uint32_t kSentRepresentingEmailAddress = 0x0065001F;
inline constexpr std::uint32_t kConversationTopic = 0x0070001F;
inline constexpr std::uint32_t kTransportMessageHeaders = 0x007D001F;
inline constexpr std::uint32_t kRecipientType = 0x0C150003;
inline constexpr std::uint32_t kSenderName = 0x0C1A001F;
inline constexpr std::uint32_t kSenderAddressType = 0x0C1E001F;
inline constexpr std::uint32_t kSenderEmailAddress = 0x0C1F001F;
inline constexpr std::uint32_t kDisplayBcc = 0x0E02001F;
inline constexpr std::uint32_t kDisplayCc = 0x0E03001F;
inline constexpr std::uint32_t kDisplayTo = 0x0E04001F;
inline constexpr std::uint32_t kMessageDeliveryTime = 0x0E060040;
inline constexpr std::uint32_t kMessageFlags = 0x0E070003;
inline constexpr std::uint32_t kMessageSize = 0x0E080003;
inline constexpr std::uint32_t kResponsibility = 0x0E0F000B;
inline constexpr std::uint32_t kMessageStatus = 0x0E170003;
inline constexpr std::uint32_t kNormalizedSubject = 0x0E1D001F;
inline constexpr std::uint32_t kRtfInSync = 0x0E1F000B;
inline constexpr std::uint32_t kAttachSize = 0x0E200003;
inline constexpr std::uint32_t kRecordKey = 0x0FF90102;
inline constexpr std::uint32_t kObjectType = 0x0FFE0003;
inline constexpr std::uint32_t kBody = 0x1000001F;
inline constexpr std::uint32_t kRtfCompressed = 0x10090102;
inline constexpr std::uint32_t kHtml = 0x10130102;
inline constexpr std::uint32_t kInternetMessageId = 0x1035001F;
inline constexpr std::uint32_t kDisplayName = 0x3001001F;
inline constexpr std::uint32_t kAddressType = 0x3002001F;
inline constexpr std::uint32_t kEmailAddress = 0x3003001F;
inline constexpr std::uint32_t kCreationTime = 0x30070040;
inline constexpr std::uint32_t kLastModificationTime = 0x30080040;
inline constexpr std::uint32_t kStoreSupportMask = 0x340D0003;
inline constexpr std::uint32_t kValidFolderMask = 0x35DF0003;
inline constexpr std::uint32_t kIpmSubtreeEntryId = 0x35E00102;
inline constexpr std::uint32_t kIpmWastebasketEntryId = 0x35E30102;
inline constexpr std::uint32_t kFinderEntryId = 0x35E70102;
inline constexpr std::uint32_t kContentCount = 0x36020003;
inline constexpr std::uint32_t kContentUnreadCount = 0x36030003;
inline constexpr std::uint32_t kSubfolders = 0x360A000B;
inline constexpr std::uint32_t kContainerClass = 0x3613001F;
inline constexpr std::uint32_t kParentDisplay = 0x0E05001F;
inline constexpr std::uint32_t kAttachDataBinary = 0x37010102;
inline constexpr std::uint32_t kAttachExtension = 0x3703001F;
inline constexpr std::uint32_t kAttachFilename = 0x3704001F;
inline constexpr std::uint32_t kAttachMethod = 0x37050003;
inline constexpr std::uint32_t kAttachLongFilename = 0x3707001F;
inline constexpr std::uint32_t kRenderingPosition = 0x370B0003;
inline constexpr std::uint32_t kAttachMimeTag = 0x370E001F;
inline constexpr std::uint32_t kAttachContentId = 0x3712001F;
inline constexpr std::uint32_t kDisplayType = 0x39000003;
inline constexpr std::uint32_t kSmtpAddress = 0x39FE001F;
inline constexpr std::uint32_t kGivenName = 0x3A06001F;
inline constexpr std::uint32_t kBusinessTelephoneNumber = 0x3A08001F;
inline constexpr std::uint32_t kHomeTelephoneNumber = 0x3A09001F;
inline constexpr std::uint32_t kSurname = 0x3A11001F;
inline constexpr std::uint32_t kMobileTelephoneNumber = 0x3A1C001F;
inline constexpr std::uint32_t kPostalAddress = 0x3A15001F;
inline constexpr std::uint32_t kInternetCodepage = 0x3FDE0003;
inline constexpr std::uint32_t kMessageCodepage = 0x3FFD0003;
inline constexpr std::uint32_t kSenderSmtpAddress = 0x5D01001F;
inline constexpr std::uint32_t kSentRepresentingSmtpAddress = 0x5D02001F;
inline constexpr std::uint32_t kPstHiddenCount = 0x66330003;
inline constexpr std::uint32_t kPstHiddenUnread = 0x66340003;
inline constexpr std::uint32_t kPstPassword = 0x67FF0003;

// Named properties of contacts (PSETID_Address), at the ids the name-to-id map gives them.
inline constexpr std::uint32_t kEmail1Address = 0x8000001F;
inline constexpr std::uint32_t kEmail1DisplayName = 0x8001001F;
inline constexpr std::uint32_t kEmail1AddressType = 0x8002001F;
inline constexpr std::uint32_t kEmail1OriginalDisplayName = 0x8003001F;
inline constexpr std::uint32_t kFileUnder = 0x8004001F;
inline constexpr std::uint32_t kWorkAddress = 0x8005001F;

} // namespace edb::pst::tag
