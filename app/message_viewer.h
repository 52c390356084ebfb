#pragma once
// The message viewer: one message as Convert would write it — From, To, Date and Subject as the
// .eml file says them, the body (HTML shown with nothing fetched, or text), the attachments with
// their sizes and "Save...", and notes on the parts that could not be read.
#include "content/message_content.h"
#include "catalog/catalog.h"

#include <QDialog>
#include <QTextBrowser>

class QLabel;
class QPushButton;
class QTableWidget;

namespace edbapp {

// A text browser that loads nothing: no remote pictures, no local files, no style sheets.
class SealedBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override;
    [[nodiscard]] int blockedLoads() const { return m_blocked; }

private:
    int m_blocked = 0;
};

class MessageViewer : public QDialog {
    Q_OBJECT
public:
    MessageViewer(const edb::StoreCatalog& catalog, const edb::MessageEntry& message,
                  QWidget* parent = nullptr);

    [[nodiscard]] const edb::conv::MessageContent& content() const { return m_content; }
    [[nodiscard]] QLabel* fromLabel() const { return m_from; }
    [[nodiscard]] QLabel* toLabel() const { return m_to; }
    [[nodiscard]] QLabel* dateLabel() const { return m_date; }
    [[nodiscard]] QLabel* subjectLabel() const { return m_subject; }
    [[nodiscard]] SealedBrowser* body() const { return m_body; }
    [[nodiscard]] QTableWidget* attachments() const { return m_attachments; }
    [[nodiscard]] QPushButton* saveButton() const { return m_save; }
    [[nodiscard]] QLabel* notes() const { return m_notes; }
    // True when the body is HTML (shown as such), false for text.
    [[nodiscard]] bool showsHtml() const { return m_html; }

public slots:
    // Saves the selected attachment (the first when none is selected) where the user says.
    void saveAttachment();

private:
    edb::conv::MessageContent m_content;
    QLabel* m_from = nullptr;
    QLabel* m_to = nullptr;
    QLabel* m_date = nullptr;
    QLabel* m_subject = nullptr;
    SealedBrowser* m_body = nullptr;
    QTableWidget* m_attachments = nullptr;
    QPushButton* m_save = nullptr;
    QLabel* m_notes = nullptr;
    bool m_html = false;
};

// "12 bytes", "3.4 KB", "1.2 MB".
[[nodiscard]] QString SizeText(std::uint64_t bytes);

} // namespace edbapp
