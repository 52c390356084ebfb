#include "app/find_window.h"

#include "app/screen_fit.h"
#include "app/report_list_view.h"
#include "views/message_search.h"
#include "views/texts.h"
#include "views/message_list.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <vector>

namespace edbapp {

namespace {
// Results reach the window in batches: this many, or what was found in this time.
constexpr std::size_t kBatchRows = 200;
constexpr auto kBatchTime = std::chrono::milliseconds(100);

std::optional<std::uint64_t> dayStart(const QDate& day) {
    return edb::conv::LocalDayStart(day.toString(QStringLiteral("yyyy-MM-dd")).toStdString());
}
} // namespace

struct FindWindow::Batch {
    std::vector<ReportRow> rows;
    bool last = false;
};

FindWindow::FindWindow(const edb::StoreCatalog& catalog, QWidget* parent)
    : QDialog(parent, Qt::Window), m_catalog(catalog) {
    setObjectName(QStringLiteral("findWindow"));
    setWindowTitle(QStringLiteral("Find Messages"));

    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(QStringLiteral("Text in the subject or sender"));
    m_useFrom = new QCheckBox(QStringLiteral("From"), this);
    m_from = new QDateEdit(QDate::currentDate().addYears(-1), this);
    m_useTo = new QCheckBox(QStringLiteral("To"), this);
    m_to = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* d : {m_from, m_to}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setEnabled(false);
    }
    connect(m_useFrom, &QCheckBox::toggled, m_from, &QWidget::setEnabled);
    connect(m_useTo, &QCheckBox::toggled, m_to, &QWidget::setEnabled);
    m_find = new QPushButton(QStringLiteral("Find"), this);
    m_find->setDefault(true);
    m_view = new QPushButton(QStringLiteral("View Message..."), this);
    m_view->setEnabled(false);

    m_results = new ReportListView(this);
    const auto columns = edb::views::FindResultColumns();
    m_results->setColumns(columns);
    // Room for the widest date text.
    const int date = static_cast<int>(columns.size()) - 1;
    m_results->setColumnWidth(
        date, std::max(columns.back().width,
                       m_results->fontMetrics().horizontalAdvance(
                           QString::fromLatin1(edb::views::kWidestDateText)) +
                           12));
    m_results->setDoubleClickActivates(true);
    m_status = new QLabel(this);

    auto* form = new QGridLayout;
    form->addWidget(new QLabel(QStringLiteral("Subject or sender:"), this), 0, 0);
    form->addWidget(m_text, 0, 1, 1, 4);
    form->addWidget(m_find, 0, 5);
    form->addWidget(m_useFrom, 1, 0);
    form->addWidget(m_from, 1, 1);
    form->addWidget(m_useTo, 1, 2);
    form->addWidget(m_to, 1, 3);
    form->setColumnStretch(4, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_view);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_results, 1);
    layout->addLayout(bottom);
    FitOnScreen(*this, QSize(820, 480), parentWidget());

    connect(m_find, &QPushButton::clicked, this, &FindWindow::startSearch);
    connect(m_text, &QLineEdit::returnPressed, this, &FindWindow::startSearch);
    connect(m_view, &QPushButton::clicked, this, &FindWindow::viewSelected);
    connect(m_results, &ReportListView::rowActivated, this, [this] { viewSelected(); });
    connect(m_results, &QTableWidget::itemSelectionChanged, this,
            [this] { m_view->setEnabled(!m_results->selectedItems().isEmpty()); });
}

FindWindow::~FindWindow() {
    stopSearch();
}

void FindWindow::stopSearch() {
    ++m_generation; // batches still queued from the old search are dropped
    if (m_cancel) {
        m_cancel->cancel(edb::StopReason::Superseded);
    }
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_searching = false;
}

void FindWindow::startSearch() {
    stopSearch();
    edb::conv::SearchQuery query;
    query.text = m_text->text().trimmed().toStdString();
    if (m_useFrom->isChecked()) {
        query.after = dayStart(m_from->date());
    }
    if (m_useTo->isChecked()) {
        query.before = dayStart(m_to->date().addDays(1)); // the To day is included
    }
    // New columns, at the widths the user left them.
    std::vector<edb::views::ListColumn> columns = edb::views::FindResultColumns();
    for (std::size_t c = 0; c < columns.size(); ++c) {
        columns[c].width = m_results->columnWidth(static_cast<int>(c));
    }
    m_results->setColumns(columns);
    m_found = 0;
    m_searching = true;
    m_status->setText(QString::fromStdString(edb::views::FindStatusText(true, 0)));
    const std::uint64_t generation = m_generation;
    m_cancel = std::make_shared<edb::CancelToken>();
    emit searchStarted(m_cancel);
    m_worker = std::thread([this, query, generation, columns, cancel = m_cancel] {
        edb::conv::FolderPaths paths(m_catalog);
        auto batch = std::make_shared<Batch>();
        auto sent = std::chrono::steady_clock::now();
        std::uint64_t number = 0;
        const auto send = [&](bool last) {
            batch->last = last;
            // Queued: the window thread adds the rows; a stale generation drops them there.
            QMetaObject::invokeMethod(
                this, [this, generation, batch] { deliver(generation, batch); },
                Qt::QueuedConnection);
            batch = std::make_shared<Batch>();
            sent = std::chrono::steady_clock::now();
        };
        (void)edb::conv::FindMessages(
            m_catalog, paths, query,
            [&](edb::conv::SearchMatch&& m) {
                const edb::views::ListRow found = edb::conv::FindResultRow(m, ++number);
                ReportRow row;
                for (const std::string& cell : found.cells) {
                    row.cells << QString::fromStdString(cell);
                }
                row.number = found.number;
                row.keys = edb::views::SortKeys(found, columns);
                row.tag = reinterpret_cast<quintptr>(found.entry);
                batch->rows.push_back(std::move(row));
                if (batch->rows.size() >= kBatchRows ||
                    std::chrono::steady_clock::now() - sent >= kBatchTime) {
                    send(false);
                }
                return !cancel->cancelled();
            },
            cancel->flag());
        send(true);
    });
}

void FindWindow::deliver(std::uint64_t generation, const std::shared_ptr<Batch>& batch) {
    if (generation != m_generation) {
        return; // a newer search took over
    }
    m_results->appendRows(batch->rows);
    m_found += batch->rows.size();
    if (batch->last) {
        m_searching = false;
        emit searchEnded(m_cancel);
        m_status->setText(QString::fromStdString(edb::views::FindStatusText(false, m_found)));
    } else {
        m_status->setText(QString::fromStdString(edb::views::FindStatusText(true, m_found)));
    }
}

void FindWindow::viewSelected() {
    const QList<QTableWidgetItem*> selected = m_results->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const auto* message =
        reinterpret_cast<const edb::MessageEntry*>(m_results->rowTag(selected.front()->row()));
    if (message != nullptr) {
        emit viewMessage(message);
    }
}

} // namespace edbapp
