#pragma once
// The message viewer: one message as Convert would write it — From, To, Date and Subject as
// the .eml file says them, the body as text (an HTML body as its visible text; the original
// opens in the browser on request), the attachments to save, and notes on unreadable parts.
#include "catalog/catalog.h"
#include "content/message_content.h"
#include "mime/eml_headers.h"
#include "win32/dialog.h"
#include "win32/prompts.h"

#include <string>

namespace edbwin {

class ViewerDialog : public Dialog {
public:
    ViewerDialog(const edb::StoreCatalog& catalog, const edb::MessageEntry& message,
                 Prompts& prompts);

    [[nodiscard]] const edb::conv::MessageContent& content() const { return m_content; }
    // The body text shown (CRLF line ends, as the edit control wants them).
    [[nodiscard]] const std::string& bodyText() const { return m_body; }
    void saveAttachment(std::size_t index);
    void openInBrowser();

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void initialise();
    Prompts& m_prompts;
    edb::conv::MessageContent m_content;
    edb::conv::EmlHeaders m_headers;
    std::string m_fallbackSubject;
    std::string m_body;
};

// "12 bytes", "3.4 KB", "1.2 MB".
[[nodiscard]] std::string SizeText(std::uint64_t bytes);
// Text with every line ending as CRLF, as a multi-line edit control shows it.
[[nodiscard]] std::string WithCrLf(const std::string& text);

} // namespace edbwin
