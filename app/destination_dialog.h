#pragma once
// Where Convert writes: a folder of .eml files, mbox files, PST files, a Maildir, or an IMAP
// server. The
// dialog remembers the last choice (never the password) for the next Convert.
#include "imap/imap_session.h"
#include "views/destinations.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;
class QWidget;

namespace edbapp {

struct ConvertDestination {
    using Kind = edb::views::DestinationKind;
    Kind kind = Kind::EmlFolder;
    QString folder; // the output folder of the file kinds
    QString url;    // imap://HOST[:PORT]/[FOLDER] or imaps://...
    QString user;
    QString password;
    bool allowUnencrypted = false; // the user's explicit choice; never the default
    QString caFile;                // certificates to trust besides the system's
};

// The full address with the user in it, as ParseImapUrl reads it.
[[nodiscard]] std::string ImapAddress(const ConvertDestination& d);

// The connection's protection as chosen in the dialog, with error hints in its words.
void ApplyImapSecurity(const ConvertDestination& d, edb::conv::ImapSettings& imap);

class DestinationDialog : public QDialog {
    Q_OBJECT
public:
    explicit DestinationDialog(QWidget* parent);
    ~DestinationDialog() override;

    // Shows the dialog; nothing when the user cancels. Tests install their own answer with
    // setDestinationChooser.
    [[nodiscard]] static std::optional<ConvertDestination> ask(QWidget* owner);
    using Chooser = std::function<std::optional<ConvertDestination>(QWidget* owner)>;
    static void setDestinationChooser(Chooser chooser); // empty: the dialog again

    [[nodiscard]] ConvertDestination destination() const;

private:
    void accept() override;
    void updateFields();
    void browse();
    void browseCa();
    void testConnection();

    QButtonGroup* m_kinds = nullptr;
    QLineEdit* m_folder = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_url = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_allowUnencrypted = nullptr;
    QLabel* m_unencryptedWarning = nullptr;
    QLineEdit* m_caFile = nullptr;
    QPushButton* m_browseCa = nullptr;
    QPushButton* m_test = nullptr;
    QLabel* m_status = nullptr;
    bool m_testing = false;
    // The running "Test connection": stopped and waited for when the dialog goes, so no login
    // outlives it.
    QPointer<QThread> m_testThread;
    std::shared_ptr<std::atomic<bool>> m_testCancel;
};

} // namespace edbapp
