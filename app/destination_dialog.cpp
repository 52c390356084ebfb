#include "app/destination_dialog.h"

#include "app/screen_fit.h"
#include "app/window_texts.h"
#include "imap/imap_session.h"
#include "platform/platform.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

namespace edbapp {
namespace {

DestinationDialog::Chooser& chooser() {
    static DestinationDialog::Chooser c;
    return c;
}

QSettings settings() {
    return QSettings(QStringLiteral("Quenlor Systems"), QStringLiteral("Exchange To Eml"));
}

} // namespace

std::string ImapAddress(const ConvertDestination& d) {
    std::string url = d.url.trimmed().toStdString();
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) {
        url = "imap://" + url;
    }
    const auto start = url.find("://") + 3;
    const auto slash = url.find('/', start);
    const std::string authority =
        url.substr(start, slash == std::string::npos ? slash : slash - start);
    if (authority.find('@') == std::string::npos && !d.user.isEmpty()) {
        url.insert(start, QUrl::toPercentEncoding(d.user).toStdString() + "@");
    }
    return url;
}

void ApplyImapSecurity(const ConvertDestination& d, edb::conv::ImapSettings& imap) {
    imap.allowUnencrypted = d.allowUnencrypted;
    imap.caFile = d.caFile.toStdString();
    imap.unencryptedHint =
        "tick \"Allow an unencrypted connection\" to send the password unencrypted";
    imap.trustHint = "to trust it, choose its certificate or CA as the CA file";
}

DestinationDialog::DestinationDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kCaption));
    auto* layout = new QVBoxLayout(this);
    m_kinds = new QButtonGroup(this);
    for (const edb::views::DestinationChoice& c : edb::views::DestinationChoices()) {
        const int id = static_cast<int>(c.kind);
        auto* radio = new QRadioButton(QString::fromUtf8(c.caption), this);
        radio->setObjectName(QStringLiteral("kind%1").arg(id));
        m_kinds->addButton(radio, id);
        layout->addWidget(radio);
    }

    auto* form = new QFormLayout;
    auto* folderRow = new QHBoxLayout;
    m_folder = new QLineEdit(this);
    m_browse = new QPushButton(QStringLiteral("Browse..."), this);
    folderRow->addWidget(m_folder);
    folderRow->addWidget(m_browse);
    form->addRow(QStringLiteral("Output folder:"), folderRow);
    m_url = new QLineEdit(this);
    m_url->setPlaceholderText(QStringLiteral("imap://mail.example.com/Restored"));
    form->addRow(QStringLiteral("Server address:"), m_url);
    m_user = new QLineEdit(this);
    form->addRow(QStringLiteral("User:"), m_user);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Password:"), m_password);
    auto* caRow = new QHBoxLayout;
    m_caFile = new QLineEdit(this);
    m_caFile->setPlaceholderText(QStringLiteral("only for a private CA or a self-signed server"));
    m_browseCa = new QPushButton(QStringLiteral("Browse..."), this);
    caRow->addWidget(m_caFile);
    caRow->addWidget(m_browseCa);
    form->addRow(QStringLiteral("CA file:"), caRow);
    m_allowUnencrypted = new QCheckBox(QStringLiteral("Allow an unencrypted connection"), this);
    form->addRow(QString(), m_allowUnencrypted);
    m_unencryptedWarning = new QLabel(
        QStringLiteral("Warning: with a server that offers no encryption, the password and the "
                       "mail are sent as plain text."),
        this);
    m_unencryptedWarning->setWordWrap(true);
    form->addRow(QString(), m_unencryptedWarning);
    layout->addLayout(form);

    auto* testRow = new QHBoxLayout;
    m_test = new QPushButton(QStringLiteral("Test connection"), this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    // Room for three lines whatever the answer: the fields never move when it comes.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_status->setFixedHeight(m_status->fontMetrics().lineSpacing() * 3);
    testRow->addWidget(m_test);
    testRow->addWidget(m_status, 1);
    layout->addLayout(testRow);
    m_folder->setObjectName(QStringLiteral("folder"));
    m_url->setObjectName(QStringLiteral("url"));
    m_user->setObjectName(QStringLiteral("user"));
    m_password->setObjectName(QStringLiteral("password"));
    m_test->setObjectName(QStringLiteral("testConnection"));
    m_caFile->setObjectName(QStringLiteral("caFile"));
    m_allowUnencrypted->setObjectName(QStringLiteral("allowUnencrypted"));
    m_unencryptedWarning->setObjectName(QStringLiteral("unencryptedWarning"));
    m_status->setObjectName(QStringLiteral("status"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &DestinationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DestinationDialog::reject);
    connect(m_browse, &QPushButton::clicked, this, &DestinationDialog::browse);
    connect(m_browseCa, &QPushButton::clicked, this, &DestinationDialog::browseCa);
    connect(m_allowUnencrypted, &QCheckBox::toggled, this, [this] { updateFields(); });
    connect(m_test, &QPushButton::clicked, this, &DestinationDialog::testConnection);
    connect(m_kinds, &QButtonGroup::idClicked, this, [this] { updateFields(); });

    // The last choice, without its password.
    QSettings s = settings();
    const auto kind =
        edb::views::DestinationKindFromNumber(s.value(QStringLiteral("convert/kind"), 0).toInt());
    m_kinds->button(static_cast<int>(kind))->setChecked(true);
    m_folder->setText(s.value(QStringLiteral("convert/folder")).toString());
    m_url->setText(s.value(QStringLiteral("convert/url")).toString());
    m_user->setText(s.value(QStringLiteral("convert/user")).toString());
    m_caFile->setText(s.value(QStringLiteral("convert/caFile")).toString());
    // "Allow an unencrypted connection" is a choice for one connection, made each time anew:
    // a box left ticked would send the next server the password in clear without a word.
    updateFields();
    // One layout for the dialog's life, fitted to the screen it opens on.
    FitOnScreen(*this, sizeHint().expandedTo(QSize(520, 0)), parent);
    setFixedSize(size());
}

DestinationDialog::~DestinationDialog() {
    if (m_testThread != nullptr) {
        m_testCancel->store(true);
        m_testThread->wait();
    }
}

std::optional<ConvertDestination> DestinationDialog::ask(QWidget* owner) {
    if (chooser()) {
        return chooser()(owner);
    }
    DestinationDialog dialog(owner);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.destination();
}

void DestinationDialog::setDestinationChooser(Chooser c) {
    chooser() = std::move(c);
}

ConvertDestination DestinationDialog::destination() const {
    ConvertDestination d;
    d.kind = edb::views::DestinationKindFromNumber(m_kinds->checkedId());
    d.folder = m_folder->text().trimmed();
    d.url = m_url->text().trimmed();
    d.user = m_user->text().trimmed();
    d.password = m_password->text();
    d.allowUnencrypted = m_allowUnencrypted->isChecked();
    d.caFile = m_caFile->text().trimmed();
    return d;
}

void DestinationDialog::updateFields() {
    const bool imap = !edb::views::NeedsOutputFolder(
        edb::views::DestinationKindFromNumber(m_kinds->checkedId()));
    m_folder->setEnabled(!imap);
    m_browse->setEnabled(!imap);
    for (QWidget* w :
         {static_cast<QWidget*>(m_url), static_cast<QWidget*>(m_user),
          static_cast<QWidget*>(m_password), static_cast<QWidget*>(m_caFile),
          static_cast<QWidget*>(m_browseCa), static_cast<QWidget*>(m_allowUnencrypted)}) {
        w->setEnabled(imap);
    }
    m_unencryptedWarning->setVisible(m_allowUnencrypted->isChecked());
    m_test->setEnabled(imap && !m_testing);
}

void DestinationDialog::browse() {
    const QString dir =
        edb::platform().chooseDirectory(this, QStringLiteral("Select Output Folder"));
    if (!dir.isEmpty()) {
        m_folder->setText(dir);
    }
}

void DestinationDialog::browseCa() {
    const QString file = edb::platform().chooseOpenFile(
        this, QStringLiteral("Select CA File"),
        QStringLiteral("Certificates (*.pem *.crt *.cer);;All files (*)"));
    if (!file.isEmpty()) {
        m_caFile->setText(file);
    }
}

void DestinationDialog::accept() {
    const ConvertDestination d = destination();
    if (d.kind == ConvertDestination::Kind::Imap) {
        try {
            (void)edb::conv::ParseImapUrl(ImapAddress(d));
        } catch (const std::invalid_argument& e) {
            edb::platform().showError(this, QStringLiteral("Server address: %1").arg(e.what()));
            return;
        }
    } else if (d.folder.isEmpty()) {
        edb::platform().showError(this, QStringLiteral("Please choose the output folder"));
        return;
    }
    QSettings s = settings();
    s.setValue(QStringLiteral("convert/kind"), static_cast<int>(d.kind));
    s.setValue(QStringLiteral("convert/folder"), d.folder);
    s.setValue(QStringLiteral("convert/url"), d.url);
    s.setValue(QStringLiteral("convert/user"), d.user);
    s.setValue(QStringLiteral("convert/caFile"), d.caFile);
    s.remove(QStringLiteral("convert/allowUnencrypted")); // as an earlier version kept it
    s.remove(QStringLiteral("convert/noTls")); // meant "never STARTTLS"; not carried over
    QDialog::accept();
}

void DestinationDialog::testConnection() {
    const ConvertDestination d = destination();
    edb::conv::ImapSettings imap;
    try {
        imap.url = edb::conv::ParseImapUrl(ImapAddress(d));
    } catch (const std::invalid_argument& e) {
        m_status->setText(QStringLiteral("Server address: %1").arg(e.what()));
        return;
    }
    imap.password = d.password.toStdString();
    ApplyImapSecurity(d, imap);
    imap.timeout = std::chrono::seconds(20);
    m_testCancel = std::make_shared<std::atomic<bool>>(false);
    imap.cancel = m_testCancel;
    m_testing = true;
    updateFields();
    m_status->setText(QStringLiteral("Connecting..."));
    // The login runs on its own thread; the answer comes back through `finished`, queued to
    // this dialog's thread, and is dropped with the connection if the dialog has gone.
    auto answer = std::make_shared<QString>();
    QThread* thread = QThread::create([imap, answer] {
        try {
            edb::conv::ImapSession session(imap);
            (void)session.separator();
            *answer = session.encrypted()
                          ? QStringLiteral("Connected: the server accepted the login.")
                          : QStringLiteral("Connected: the server accepted the login, but the "
                                           "connection is not encrypted.");
        } catch (const std::exception& e) {
            *answer = QString::fromStdString(e.what());
        }
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, answer] {
        m_testing = false;
        m_status->setText(*answer);
        updateFields();
    });
    m_testThread = thread;
    thread->start();
}

} // namespace edbapp
