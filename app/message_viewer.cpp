#include "app/message_viewer.h"

#include "app/screen_fit.h"
#include "mime/eml_headers.h"
#include "views/message_search.h"
#include "deliver/output_names.h"
#include "platform/platform.h"

#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace edbapp {

QVariant SealedBrowser::loadResource(int, const QUrl&) {
    ++m_blocked; // a mail's pictures and links would tell a sender when it was read
    return {};
}

QString SizeText(std::uint64_t bytes) {
    if (bytes < 1024) {
        return QStringLiteral("%1 bytes").arg(bytes);
    }
    if (bytes < 1024ULL * 1024) {
        return QStringLiteral("%1 KB").arg(static_cast<double>(bytes) / 1024, 0, 'f', 1);
    }
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024.0 * 1024), 0, 'f', 1);
}

MessageViewer::MessageViewer(const edb::StoreCatalog& catalog, const edb::MessageEntry& message,
                             QWidget* parent)
    : QDialog(parent, Qt::Window) {
    setObjectName(QStringLiteral("messageViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    const edb::conv::FolderPath folder = edb::conv::MessageFolderPath(catalog, message);
    std::string eml;
    try {
        const edb::conv::StoreReader reader(catalog.storeFile, catalog.storeSize);
        m_content = edb::conv::ReadMessageContent(
            reader, edb::conv::SnapshotMessage(catalog, message), folder);
        eml = edb::conv::WriteEml(m_content.eml);
    } catch (const std::exception& e) {
        m_content.notes.push_back(std::string("the store file could not be read: ") + e.what());
    }
    const edb::conv::EmlHeaders headers = edb::conv::ReadEmlHeaders(eml);
    setWindowTitle(
        QString::fromStdString(headers.subject.empty() ? message.subject : headers.subject));

    const auto label = [this](const std::string& text) {
        auto* l = new QLabel(QString::fromStdString(text), this);
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setWordWrap(true);
        return l;
    };
    m_from = label(headers.from);
    m_to = label(headers.to);
    if (headers.to.empty()) {
        m_to->setText(QStringLiteral("(not recorded in the store)"));
        m_to->setEnabled(false);
    }
    m_date = label(headers.date);
    m_subject = label(headers.subject);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("From:"), m_from);
    form->addRow(QStringLiteral("To:"), m_to);
    form->addRow(QStringLiteral("Date:"), m_date);
    form->addRow(QStringLiteral("Subject:"), m_subject);

    m_body = new SealedBrowser(this);
    m_body->setOpenLinks(false);
    connect(m_body, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        // Only a click leaves the viewer, and only to the desktop's handler.
        const QString scheme = url.scheme();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
            scheme == QLatin1String("mailto")) {
            (void)edb::platform().openWithDefaultHandler(url.toString());
        }
    });
    const edb::conv::EmlInput& in = m_content.eml;
    if (in.html) {
        m_html = true;
        m_body->setHtml(QString::fromStdString(*in.html));
    } else if (in.plainText) {
        m_body->setPlainText(QString::fromStdString(*in.plainText));
    } else if (in.rtf) {
        m_body->setPlainText(QStringLiteral("(The body is formatted text (RTF); the .eml file "
                                            "keeps it as an attachment.)"));
    }

    m_attachments = new QTableWidget(0, 2, this);
    m_attachments->setHorizontalHeaderLabels(
        {QStringLiteral("Attachment"), QStringLiteral("Size")});
    m_attachments->verticalHeader()->hide();
    m_attachments->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_attachments->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_attachments->setSelectionMode(QAbstractItemView::SingleSelection);
    m_attachments->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (const edb::conv::EmlAttachment& a : in.attachments) {
        const int row = m_attachments->rowCount();
        m_attachments->insertRow(row);
        m_attachments->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(a.name)));
        m_attachments->setItem(row, 1, new QTableWidgetItem(SizeText(a.bytes.size())));
    }
    m_save = new QPushButton(QStringLiteral("Save..."), this);
    m_save->setEnabled(!in.attachments.empty());
    connect(m_save, &QPushButton::clicked, this, &MessageViewer::saveAttachment);

    QString notes;
    for (const std::string& n : m_content.notes) {
        notes += QStringLiteral("\u2022 ") + QString::fromStdString(n) + QLatin1Char('\n');
    }
    m_notes = new QLabel(notes.trimmed(), this);
    m_notes->setTextFormat(Qt::PlainText);
    m_notes->setWordWrap(true);
    m_notes->setVisible(!m_content.notes.empty());

    auto* attachmentRow = new QHBoxLayout;
    attachmentRow->addWidget(m_attachments, 1);
    attachmentRow->addWidget(m_save, 0, Qt::AlignTop);
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addLayout(attachmentRow);
    lowerLayout->addWidget(m_notes);
    lower->setVisible(!in.attachments.empty() || !m_content.notes.empty());

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_body);
    split->addWidget(lower);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(split, 1);
    FitOnScreen(*this, QSize(720, 560), parentWidget());
}

void MessageViewer::saveAttachment() {
    const auto& list = m_content.eml.attachments;
    if (list.empty()) {
        return;
    }
    const int selected = m_attachments->currentRow();
    const std::size_t index = selected >= 0 ? static_cast<std::size_t>(selected) : 0;
    const edb::conv::EmlAttachment& a = list[std::min(index, list.size() - 1)];
    const QString suggested = QString::fromStdString(edb::conv::SanitizeName(a.name, "attachment"));
    const QString path = edb::platform().chooseSaveFile(this, QStringLiteral("Save Attachment"),
                                                        suggested, QString());
    if (path.isEmpty()) {
        return;
    }
    QSaveFile file(path);
    const bool ok =
        file.open(QIODevice::WriteOnly) &&
        file.write(reinterpret_cast<const char*>(a.bytes.data()),
                   static_cast<qint64>(a.bytes.size())) == static_cast<qint64>(a.bytes.size()) &&
        file.commit();
    if (!ok) {
        edb::platform().showError(this,
                                  QStringLiteral("Unable to save %1: %2")
                                      .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}

} // namespace edbapp
