#include "app/about_dialog.h"

#include "app/dialog_units.h"
#include "app/window_texts.h"
#include "resources/artwork.h"
#include "views/texts.h"
#include "widgets/control_id.h"
#include "widgets/link_button.h"

#include <QLabel>
#include <QPushButton>

namespace edbapp {

AboutDialog::AboutDialog(QWidget* parent)
    : edb::CSkinnedDialog((edb::initArtwork(), QString::fromLatin1(edb::kAboutBackground)),
                          parent) {
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(kCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(duToPixelsX(276), duToPixelsY(126));

    // The version and what the program does, over the background's blank band.
    m_text = new QLabel(QStringLiteral("Version %1\n%2")
                            .arg(QStringLiteral(EDB_PROGRAM_VERSION),
                                 QString::fromLatin1(edb::views::kAboutText)),
                        this);
    m_text->setObjectName(QStringLiteral("aboutText"));
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setAttribute(Qt::WA_TranslucentBackground);
    QFont small = m_text->font();
    small.setPixelSize(11);
    m_text->setFont(small);
    m_text->setGeometry(duRect(16, 42, 248, 42));

    auto* web = new edb::CLinkButton(QString::fromLatin1(kWebAddress), this);
    web->setGeometry(duRect(97, 86, 156, 10));
    edb::setControlId(web, 1001);
    m_webLink = web;
    auto* mail = new edb::CLinkButton(QString::fromLatin1(kSupportAddress), this);
    mail->setGeometry(duRect(97, 98, 156, 10));
    edb::setControlId(mail, 1002);
    m_mailLink = mail;

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setGeometry(duRect(125, 110, 50, 14));
    m_ok->setDefault(true);
    edb::setControlId(m_ok, 1);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace edbapp
