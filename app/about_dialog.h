#pragma once
// The About box: the version and what the program does, the product's web address and support
// address as link buttons, and OK.
#include "widgets/skinned_dialog.h"

class QLabel;
class QPushButton;

namespace edbapp {

class AboutDialog : public edb::CSkinnedDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    [[nodiscard]] QWidget* webLink() const { return m_webLink; }
    [[nodiscard]] QWidget* mailLink() const { return m_mailLink; }
    [[nodiscard]] QPushButton* okButton() const { return m_ok; }
    [[nodiscard]] QLabel* text() const { return m_text; }

private:
    QWidget* m_webLink = nullptr;
    QWidget* m_mailLink = nullptr;
    QPushButton* m_ok = nullptr;
    QLabel* m_text = nullptr;
};

} // namespace edbapp
