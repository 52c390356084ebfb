// The seam between the window side and the operating system.
//
// Everything the dialogs and widgets ask of the desktop (message boxes, file and directory
// choosers, opening a document or web address, composing a mail, ending the process) goes
// through one Platform object, so tests can answer those requests without a desktop.
//
// Use:   edb::platform().showError(this, tr("..."));
// Tests: edb::FakePlatform fake; edb::ScopedPlatform use(fake);   (see tests/platform/fake_platform.h)
#pragma once

#include <QString>

class QWidget;

namespace edb {

// Caption of every message box the program shows.
inline constexpr const char* kMessageCaption = "Quenlor Systems Exchange To Eml Conversion";

// A new mail for the system's mail client to show in its compose window; the user sends or
// discards it there.
struct MailDraft {
    // Recipient as address type and address, "SMTP:user@example.com"; a recipient without an
    // address type is taken as a plain mail address.
    QString recipient;
    QString subject;
    QString body;
    // One attachment entry; empty path and name mean "no file". Clients without attachment
    // support through the desktop (mailto:) drop it.
    QString attachmentPath;
    QString attachmentName;

    friend bool operator==(const MailDraft&, const MailDraft&) = default;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Error icon, OK button, modal for the whole application. owner may be null (no owner
    // window, e.g. the out-of-memory report).
    virtual void showError(QWidget* owner, const QString& text) = 0;
    // Question icon, Yes and No buttons. true when the user answered Yes.
    [[nodiscard]] virtual bool askYesNo(QWidget* owner, const QString& text) = 0;
    // Information icon, OK button.
    virtual void showInformation(QWidget* owner, const QString& text) = 0;

    // The system's open-file chooser. filter in Qt's syntax ("Edb Files (*.edb)").
    // Returns the chosen path, or an empty string when the user cancelled.
    [[nodiscard]] virtual QString chooseOpenFile(QWidget* owner, const QString& caption,
                                                 const QString& filter) = 0;
    // The system's save-file chooser, starting with `suggestedName`. Returns the chosen path, or
    // an empty string when the user cancelled.
    [[nodiscard]] virtual QString chooseSaveFile(QWidget* owner, const QString& caption,
                                                 const QString& suggestedName,
                                                 const QString& filter) = 0;
    // The system's directory chooser. Returns the chosen directory or an empty string.
    [[nodiscard]] virtual QString chooseDirectory(QWidget* owner, const QString& caption) = 0;

    // Opens a document path or a web address with the system's default handler, like the
    // shell's "open" verb. false when the system has no handler for it (a bare mail address,
    // a missing file).
    [[nodiscard]] virtual bool openWithDefaultHandler(const QString& target) = 0;
    // Opens the mail client's compose window filled from the draft. false when no mail client
    // could be reached.
    [[nodiscard]] virtual bool composeMail(const MailDraft& draft) = 0;

    // Ends the process at once with the status, worker threads included. The real platform
    // never returns; a test double does, so callers return right after calling it.
    virtual void exitProcess(int status) = 0;
};

// The platform in use: the one installed with setPlatform, else the process-wide QtPlatform.
// Called on the window thread only.
[[nodiscard]] Platform& platform();

// The process-wide QtPlatform (qt_platform.cpp), made on first use; platform() falls back to it.
// Declared here so this seam does not depend on the Qt implementation behind it.
[[nodiscard]] Platform& desktopPlatform();

// Installs p as the platform in use (null: back to the QtPlatform) and returns the previous
// one (null when it was the default). The caller keeps ownership of p.
Platform* setPlatform(Platform* p);

// Installs a platform for the lifetime of a scope and puts the previous one back afterwards.
class ScopedPlatform {
public:
    explicit ScopedPlatform(Platform& p) : m_previous(setPlatform(&p)) {}
    ~ScopedPlatform() { setPlatform(m_previous); }
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    Platform* m_previous;
};

} // namespace edb
