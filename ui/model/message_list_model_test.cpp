#include "ui/model/message_list_model.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/store/quorvel_doc.h"
#include "ui/store/store_test_support.h"

namespace qv {
namespace {

class MessageListModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureCoreApplication();
    AppSettings().SetInt("Settings", "maxsize", 5);
    doc_ = std::make_unique<CQuorvelDoc>(CQuorvelDoc::ExecutorFactory(), std::make_unique<testing::FakeService>());
    model_ = std::make_unique<CMessageListModel>(*doc_);
    tester_ = std::make_unique<QAbstractItemModelTester>(model_.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  }

  void Add(const std::string& text, int32_t severity = 6) {
    SyslogMessage record;
    record.message = text;
    record.severity = severity;
    record.ipAddress = "10.0.0.1";
    doc_->AddMessage(record, true);
  }

  QString Cell(int row, int column) const { return model_->index(row, column).data().toString(); }

  testing::TempHome home_;
  std::unique_ptr<CQuorvelDoc> doc_;
  std::unique_ptr<CMessageListModel> model_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
};

TEST_F(MessageListModelTest, RowsFollowTheRingAsItFillsWrapsAndIsFiltered) {
  int inserted = 0;
  int removed = 0;
  int resets = 0;
  QObject::connect(model_.get(), &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) { inserted += last - first + 1; });
  QObject::connect(model_.get(), &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int first, int last) { removed += last - first + 1; });
  QObject::connect(model_.get(), &QAbstractItemModel::modelReset, [&] { ++resets; });

  int next = 0;
  for (int burst : {1, 2, 3, 1, 4, 2}) {  // 13 messages through a ring of 5
    for (int i = 0; i < burst; ++i) Add("m" + std::to_string(next++));
    model_->Sync();
    ASSERT_EQ(model_->rowCount(), std::min(next, 5));
    EXPECT_EQ(Cell(model_->rowCount() - 1, 4), QString::fromStdString("m" + std::to_string(next - 1)));
  }
  EXPECT_EQ(Cell(0, 4), "m8");
  EXPECT_EQ(inserted - removed, 5);
  EXPECT_EQ(resets, 0);

  // Unsynced (a locked display): rows keep their messages; overwritten ones read empty.
  Add("m13");
  Add("m14");
  EXPECT_EQ(model_->rowCount(), 5);
  EXPECT_EQ(Cell(2, 4), "m10");
  EXPECT_EQ(Cell(0, 4), "");
  // Rows and the document's positions part while the model lags the full ring.
  EXPECT_EQ(model_->PositionOfRow(ListRow(2)), ShownPosition(0));
  EXPECT_EQ(doc_->GetMessage(ShownPosition(0)).message, "m10");
  EXPECT_EQ(model_->MessageAt(ListRow(2)).message, "m10");
  EXPECT_EQ(model_->PositionOfRow(ListRow(0)), std::nullopt);
  EXPECT_EQ(model_->RowOfPosition(ShownPosition(2)), ListRow(4));
  EXPECT_EQ(model_->RowOfPosition(ShownPosition(3)), std::nullopt);  // m13: not announced yet
  Add("x1");
  Add("x2");
  Add("x3");
  Add("x4");
  Add("x5");
  Add("x6");
  model_->Sync();  // everything announced has gone
  EXPECT_EQ(Cell(0, 4), "x2");
  EXPECT_EQ(resets, 1);

  CRule filter;
  filter.Message = "x";
  doc_->ApplyFilter(filter);
  model_->Sync();
  EXPECT_EQ(model_->rowCount(), 5);
  for (int i = 0; i < 7; ++i) Add(i % 2 ? "y" : "x late");
  model_->Sync();
  EXPECT_EQ(Cell(4, 4), "x late");
  doc_->SortBy(CQuorvelDoc::kSortMessage);
  model_->Sync();
  EXPECT_EQ(Cell(0, 4), "x late");
  doc_->NewDocument();
  model_->Sync();
  EXPECT_EQ(model_->rowCount(), 0);
}

TEST_F(MessageListModelTest, CellsAndColours) {
  SyslogMessage record;
  record.facility = 25;
  record.severity = 3;
  record.hostName = "h\xE9";                       // Windows-1252 é
  record.message = "caf\xC3\xA9 \x80 \xC2\xAE";   // UTF-8 é, a lone euro byte, the CR marker
  record.ipAddress = "10.0.0.9";
  record.timeReceived = 1000;
  record.timeSent = 0;
  doc_->AddMessage(record, true);
  Add("plain", 0);
  model_->Sync();

  EXPECT_EQ(model_->headerData(4, Qt::Horizontal).toString(), "Message");
  EXPECT_EQ(Cell(0, 2), "UNKNOWN");
  EXPECT_EQ(Cell(0, 3), "ERROR");
  EXPECT_EQ(Cell(0, 4), QString::fromUtf8("café € ®"));
  EXPECT_EQ(Cell(0, 5), QString::fromUtf8("hé"));
  EXPECT_EQ(Cell(0, 6), "");
  AppSettings().SetInt("Settings", "timeutc", 1);
  model_->Sync();
  EXPECT_EQ(Cell(0, 0), "Jan 01 00:16:40 UTC");

  auto colour = [&](int row, int column, Qt::ItemDataRole role) { return model_->index(row, column).data(role).value<QColor>(); };
  EXPECT_EQ(colour(0, 3, Qt::BackgroundRole), QColor(255, 192, 192));
  EXPECT_EQ(colour(0, 3, Qt::ForegroundRole), QColor(Qt::black));
  EXPECT_FALSE(model_->index(0, 4).data(Qt::BackgroundRole).isValid());
  AppSettings().SetInt("Settings", "color0", 0x00FF0000);  // blue, stored red-lowest
  model_->ReloadColours();
  EXPECT_EQ(colour(1, 3, Qt::BackgroundRole), QColor(0, 0, 255));
  EXPECT_EQ(colour(1, 3, Qt::ForegroundRole), QColor(Qt::white));  // black would not read on dark blue

  int changedRow = -1;
  QObject::connect(model_.get(), &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex&) { changedRow = from.row(); });
  doc_->ToggleHighlight(ShownPosition(1));
  EXPECT_EQ(changedRow, 1);
  EXPECT_TRUE(model_->index(1, 4).data(Qt::BackgroundRole).isValid());
  EXPECT_NE(colour(1, 4, Qt::BackgroundRole), colour(1, 4, Qt::ForegroundRole));
  EXPECT_EQ(colour(1, 3, Qt::BackgroundRole), QColor(0, 0, 255));  // the severity cell keeps its colour

}

}  // namespace
}  // namespace qv
