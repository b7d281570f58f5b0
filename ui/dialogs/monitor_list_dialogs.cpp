#include "ui/dialogs/monitor_list_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/dialogs/tool_tips.h"
#include "ui/dialogs/user_prompts.h"

namespace qv {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QPushButton* MakeButton(const char* caption, const char* objectName) {
  auto* button = new QPushButton(QString::fromLatin1(caption));
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeEdit(const char* objectName) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(objectName));
  return edit;
}

// Add, Delete and Clear All in a column beside the list.
QVBoxLayout* ListButtons(QPushButton** add, QPushButton** remove, QPushButton** clear) {
  *add = MakeButton("Add", "add");
  *remove = MakeButton("Delete", "delete");
  *clear = MakeButton("Clear All", "clearAll");
  auto* column = new QVBoxLayout;
  for (QPushButton* button : {*add, *remove, *clear}) column->addWidget(button);
  column->addStretch();
  return column;
}

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

template <typename View>
std::vector<int> SelectedRows(View* view) {
  std::vector<int> rows;
  for (const QModelIndex& index : view->selectionModel()->selectedRows()) rows.push_back(index.row());
  return rows;
}

}  // namespace

CFileListDialog::CFileListDialog(CUserPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(QStringLiteral("Edit List of Files and Folders to Monitor"));
  setAcceptDrops(true);
  list_ = new QTreeWidget;
  list_->setObjectName(QStringLiteral("files"));
  list_->setHeaderLabels({QStringLiteral("Filename"), QStringLiteral("Log?")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setColumnWidth(0, 300);
  list_->setColumnWidth(1, 50);
  list_->setMinimumWidth(370);
  list_->setAcceptDrops(false);  // drops reach the dialog
  path_ = MakeEdit("path");
  path_->setPlaceholderText(QStringLiteral("File or folder"));
  auto* browse = MakeButton("...", "browse");
  browse->setMaximumWidth(40);
  log_ = new QCheckBox(QStringLiteral("This file is a Log that contains text entries"));
  log_->setObjectName(QStringLiteral("log"));

  QPushButton *add, *remove, *clear;
  auto* side = ListButtons(&add, &remove, &clear);
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(side);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browse);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(pathRow);
  layout->addWidget(log_);
  layout->addWidget(OkCancel(this));

  connect(add, &QPushButton::clicked, this, [this] { AddPath(path_->text()); });
  connect(remove, &QPushButton::clicked, this, [this] {
    editor_.Remove(SelectedRows(list_));
    ShowRows();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    editor_.ClearAll();
    ShowRows();
  });
  connect(browse, &QPushButton::clicked, this, [this] {
    for (const QString& file : prompts_.ChooseExistingFiles(this, QStringLiteral("File Select"), FileKind::kTextLog)) {
      AddPath(file);
    }
  });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &CFileListDialog::OnRowSelected);
  SetToolTips({{list_, "The files and folders watched while the file monitor is on: creating, deleting or changing "
                       "one becomes a local message; for a log, each line added to it does. Drop files here to add "
                       "them."},
               {path_, "A file or folder to add; selecting a row puts its path here."},
               {browse, "Choose files to add with the file chooser."},
               {log_, "The file is a log of text lines: each line added to it becomes a message of its own, "
                      "instead of one message saying that the file changed."},
               {add, "Add the path above to the list."},
               {remove, "Remove the selected rows."},
               {clear, "Remove every row."}});

  editor_.Load();
  ShowRows();
}

void CFileListDialog::AddPath(const QString& path) {
  editor_.Add(path.toStdString(), log_->isChecked());
  ShowRows();
}

void CFileListDialog::ShowRows() {
  list_->clear();
  for (const WatchedFile& row : editor_.rows()) {
    list_->addTopLevelItem(new QTreeWidgetItem({Q(row.path), row.log ? QStringLiteral("Yes") : QString()}));
  }
}

void CFileListDialog::OnRowSelected() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  const int row = list_->indexOfTopLevelItem(selected.front());
  if (row < 0 || static_cast<std::size_t>(row) >= editor_.rows().size()) return;
  path_->setText(Q(editor_.rows()[static_cast<std::size_t>(row)].path));
  log_->setChecked(editor_.rows()[static_cast<std::size_t>(row)].log);
}

void CFileListDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CFileListDialog::dropEvent(QDropEvent* event) {
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) AddPath(url.toLocalFile());
  }
  event->acceptProposedAction();
}

void CFileListDialog::accept() {
  editor_.Save();
  QDialog::accept();
}

CPingListDialog::CPingListDialog(CUserPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(QStringLiteral("Edit List of Network Devices To Ping"));
  list_ = new QListWidget;
  list_->setObjectName(QStringLiteral("hosts"));
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setMinimumWidth(240);
  host_ = MakeEdit("host");
  host_->setPlaceholderText(QStringLiteral("Host name or address"));
  timeout_ = MakeEdit("timeout");
  pollPeriod_ = MakeEdit("pollPeriod");
  for (QLineEdit* edit : {timeout_, pollPeriod_}) edit->setMaximumWidth(100);

  QPushButton *add, *remove, *clear;
  auto* side = ListButtons(&add, &remove, &clear);
  auto* top = new QHBoxLayout;
  top->addWidget(list_, 1);
  top->addLayout(side);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Host"), host_);
  form->addRow(QStringLiteral("Timeout (ms)"), timeout_);
  form->addRow(QStringLiteral("Poll Period (Secs)"), pollPeriod_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(form);
  layout->addWidget(OkCancel(this));

  connect(add, &QPushButton::clicked, this, [this] {
    if (editor_.Add(host_->text().toStdString())) ShowHosts();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    editor_.Remove(SelectedRows(list_));
    ShowHosts();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    editor_.ClearAll();
    ShowHosts();
  });
  connect(list_, &QListWidget::currentTextChanged, host_, [this](const QString& text) {
    if (!text.isEmpty()) host_->setText(text);
  });
  SetToolTips({{list_, "The devices pinged while the ping monitor is on. A device that stops or starts "
                       "answering becomes a local message."},
               {host_, "A host name or address to add; selecting a row puts it here."},
               {timeout_, "Milliseconds to wait for a ping reply (50 to 30000)."},
               {pollPeriod_, "Seconds between ping rounds (1 to 3600)."},
               {add, "Add the host above to the list."},
               {remove, "Remove the selected rows."},
               {clear, "Remove every row."}});

  editor_.Load();
  timeout_->setText(Q(editor_.timeout));
  pollPeriod_->setText(Q(editor_.pollPeriod));
  ShowHosts();
}

void CPingListDialog::ShowHosts() {
  list_->clear();
  for (const std::string& host : editor_.hosts()) list_->addItem(Q(host));
}

void CPingListDialog::accept() {
  editor_.timeout = timeout_->text().toStdString();
  editor_.pollPeriod = pollPeriod_->text().toStdString();
  if (const auto error = editor_.Save()) {
    prompts_.Refuse(this, Q(error->message));
    (error->field == CPingListEditor::Field::kTimeout ? timeout_ : pollPeriod_)->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace qv
