#pragma once
// Sender text from the store as a mailbox for From, To and the like. The store holds names, full
// "Name <addr>" texts, addresses inside other text and directory names; a mailbox always gets
// an address, made up in a reserved domain when the text holds none.
#include <string>
#include <string_view>

namespace edb::conv {

struct EmlAddress {
    std::string name;    // display name, UTF-8, may be empty
    std::string address; // addr-spec
    bool madeUp = false; // the store held no address: `address` lies in the .invalid domain
};

// Reserved domain (RFC 2606) of addresses made for names that the store holds without one.
inline constexpr std::string_view kNoAddressDomain = "no-address.invalid";

// A sender text from the store as a mailbox: "Name <addr>" or a bare address keeps its
// address; any other text is the display name of an address made up in kNoAddressDomain.
[[nodiscard]] EmlAddress ParseSenderText(std::string_view text, std::string_view fallbackName);

} // namespace edb::conv
