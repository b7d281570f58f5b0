#include "ui/dialogs/database_settings_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/settings/settings_store.h"
#include "ui/dialogs/user_prompts.h"
#include "ui/editors/database_setup.h"

namespace qv {
namespace {

constexpr int kKindRole = Qt::UserRole;  // on a source item: true for a data source

QString Q(const std::string& text) { return QString::fromStdString(text); }

QTreeWidgetItem* Group(QTreeWidget* tree, const char* title, const std::vector<OdbcEntry>& entries, bool dataSources) {
  auto* group = new QTreeWidgetItem(tree, {QString::fromLatin1(title)});
  group->setFlags(Qt::ItemIsEnabled);
  for (const OdbcEntry& entry : entries) {
    auto* item = new QTreeWidgetItem(group, {Q(entry.name), Q(entry.description)});
    item->setData(0, kKindRole, dataSources);
  }
  if (entries.empty()) (new QTreeWidgetItem(group, {QStringLiteral("(none)")}))->setFlags(Qt::NoItemFlags);
  group->setExpanded(true);
  return group;
}

}  // namespace

CDatabaseSettingsDialog::CDatabaseSettingsDialog(CUserPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(QStringLiteral("Database Settings"));
  sources_ = new QTreeWidget;
  sources_->setObjectName(QStringLiteral("sources"));
  sources_->setHeaderLabels({QStringLiteral("Driver or data source"), QStringLiteral("Description")});
  sources_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  sources_->setMinimumSize(520, 200);
  Group(sources_, "Data Sources", ListOdbcDataSources(), true);
  Group(sources_, "Drivers", ListOdbcDrivers(), false);

  connect_ = new QLineEdit(Q(AppSettings().GetString("Settings", "db")));
  connect_->setObjectName(QStringLiteral("connectString"));
  chooseFile_ = new QPushButton(QStringLiteral("Database File..."));
  chooseFile_->setObjectName(QStringLiteral("chooseFile"));
  chooseFile_->setAutoDefault(false);
  auto* test = new QPushButton(QStringLiteral("Test"));
  test->setObjectName(QStringLiteral("test"));
  test->setAutoDefault(false);
  // A box of three lines rather than a label: a label as wide as a long reason would widen the
  // dialog past the screen.
  status_ = new QPlainTextEdit;
  status_->setObjectName(QStringLiteral("status"));
  status_->setReadOnly(true);
  status_->setFrameShape(QFrame::NoFrame);
  status_->viewport()->setAutoFillBackground(false);
  status_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  status_->setFixedHeight(status_->fontMetrics().lineSpacing() * 3 +
                          static_cast<int>(2 * status_->document()->documentMargin()));
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  connect_->setMinimumWidth(460);
  auto* connectRow = new QHBoxLayout;
  connectRow->addStretch();
  connectRow->addWidget(chooseFile_);
  connectRow->addWidget(test);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDatabaseSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Choose a driver or a data source, then complete the connection string:")));
  layout->addWidget(sources_, 1);
  layout->addWidget(new QLabel(QStringLiteral("Connection string")));
  layout->addWidget(connect_);
  layout->addLayout(connectRow);
  layout->addWidget(status_);
  layout->addWidget(buttons);

  connect(sources_, &QTreeWidget::itemSelectionChanged, this, &CDatabaseSettingsDialog::OnSourceChosen);
  connect(connect_, &QLineEdit::textChanged, this, &CDatabaseSettingsDialog::UpdateFileButton);
  connect(chooseFile_, &QPushButton::clicked, this, &CDatabaseSettingsDialog::OnChooseFile);
  connect(test, &QPushButton::clicked, this, &CDatabaseSettingsDialog::OnTest);
  UpdateFileButton();
}

void CDatabaseSettingsDialog::OnSourceChosen() {
  const QList<QTreeWidgetItem*> selected = sources_->selectedItems();
  if (selected.isEmpty() || !selected.front()->data(0, kKindRole).isValid()) return;
  const std::string name = selected.front()->text(0).toStdString();
  connect_->setText(Q(selected.front()->data(0, kKindRole).toBool() ? DataSourceConnectString(name) : DriverConnectString(name)));
  status_->clear();
}

void CDatabaseSettingsDialog::UpdateFileButton() {
  const std::optional<std::string> driver = ConnectAttribute(connect_->text().toStdString(), "Driver");
  chooseFile_->setEnabled(driver && IsSqliteDriver(*driver));
}

void CDatabaseSettingsDialog::OnChooseFile() {
  const std::string connect = connect_->text().toStdString();
  const QString file = prompts_.ChooseDatabaseFile(this, Q(ConnectAttribute(connect, "Database").value_or("")));
  if (file.isEmpty()) return;
  connect_->setText(Q(WithConnectAttribute(connect, "Database", file.toStdString())));
}

void CDatabaseSettingsDialog::OnTest() {
  const QString text = connect_->text();
  const DatabaseSetupResult result = TestDatabaseConnection(text.toStdString());
  opened_ = result.stored ? text : QString();
  status_->setPlainText(result.stored ? QStringLiteral("The connection opened.")
                                      : QStringLiteral("The connection failed: ") + Q(result.error));
}

void CDatabaseSettingsDialog::accept() {
  const QString text = connect_->text();
  const DatabaseSetupResult result = StoreDatabaseSetting(text.toStdString(), !text.isEmpty() && text == opened_);
  if (!result.stored) {
    status_->setPlainText(QStringLiteral("The connection failed: ") + Q(result.error));
    return;
  }
  QDialog::accept();
}

}  // namespace qv
