#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "StoreTestSupport.h"
#include "store/OrvanelDoc.h"

using namespace telvara;
using namespace telvara::test;

namespace {

constexpr std::uint32_t kT = 889707909;  // 12 March 1998 14:05:09 CET

class OrvanelDocTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FixTimeZone();
    ASSERT_FALSE(dir_.Path().empty());
    std::filesystem::create_directory(dir_.Path() + "inbox");
    now_ = Local(2024, 3, 15, 14, 5, 9);
  }

  std::string LogPath() const { return dir_.Path() + "orvanel.log"; }
  std::string MovedName(const std::string& path) const { return path + ".unreadable-20240315-140509"; }

  std::unique_ptr<CMessage> Message(const std::string& name) {
    auto m = std::make_unique<CMessage>();
    m->time = static_cast<std::int32_t>(kT);
    m->fileName = name;
    WriteFile(dir_.Path() + "inbox/" + name, {'R', 'I', 'F', 'F'});
    return m;
  }

  // The names of the messages in the log on disk, read by a second document.
  std::vector<std::string> NamesOnDisk() {
    COrvanelDoc other(dir_.Path());
    EXPECT_TRUE(other.OnOpenDocument(LogPath()).Ok());
    std::vector<std::string> names;
    for (int i = 0; i < other.GetMessageCount(); ++i) names.push_back(other.GetMessageAt(i)->fileName);
    return names;
  }

  std::vector<std::string> Names(const COrvanelDoc& doc) {
    std::vector<std::string> names;
    for (int i = 0; i < doc.GetMessageCount(); ++i) names.push_back(doc.GetMessageAt(i)->fileName);
    return names;
  }

  ScratchDir dir_;
  std::time_t now_ = 0;
};

Bytes ExampleLog(int count) {
  LogBuilder b;
  b.U16(static_cast<std::uint16_t>(count));
  for (int i = 0; i < count; ++i) {
    if (i == 0) {
      b.ClassRecord();
    } else {
      b.U16(0x8001);
    }
    b.Message(kT, "PGMO050" + std::to_string(i) + ".WAV");
  }
  return b.bytes;
}

}  // namespace

TEST_F(OrvanelDocTest, FirstStartWritesAnEmptyLog) {
  COrvanelDoc doc(dir_.Path().substr(0, dir_.Path().size() - 1));  // no trailing '/'
  EXPECT_EQ(doc.GetInboxDir(), dir_.Path() + "inbox/");
  StartupResult r = doc.OpenAtStartup("", now_);
  EXPECT_EQ(r.outcome, StartupOutcome::Created);
  EXPECT_TRUE(r.notice.empty()) << r.notice;
  EXPECT_EQ(ReadFile(LogPath()), (Bytes{0, 0}));
  EXPECT_EQ(doc.GetPathName(), LogPath());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(doc.GetMessageCount(), 0);
}

TEST_F(OrvanelDocTest, EveryChangeIsOnDiskAtOnce) {
  WriteFile(LogPath(), ExampleLog(2));
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Opened);
  ASSERT_EQ(Names(doc), (std::vector<std::string>{"PGMO0500.WAV", "PGMO0501.WAV"}));

  ASSERT_TRUE(doc.InsertMessage(doc.GetMessageCount(), Message("PGMO0502.WAV")).Ok());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(NamesOnDisk().size(), 3u);

  doc.GetMessageAt(0)->status = MessageStatus::StatusOld;
  ASSERT_TRUE(doc.MarkModified().Ok());
  COrvanelDoc other(dir_.Path());
  ASSERT_TRUE(other.OnOpenDocument(LogPath()).Ok());
  EXPECT_EQ(other.GetMessageAt(0)->status, MessageStatus::StatusOld);

  // No temporary file is left beside the log.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.Path())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
}

TEST_F(OrvanelDocTest, InsertAndRemoveByPosition) {
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Created);
  for (const char* n : {"B.WAV", "C.WAV", "E.WAV"}) ASSERT_TRUE(doc.InsertMessage(99, Message(n)).Ok());
  ASSERT_TRUE(doc.InsertMessage(0, Message("A.WAV")).Ok());
  ASSERT_TRUE(doc.InsertMessage(3, Message("D.WAV")).Ok());
  ASSERT_EQ(Names(doc), (std::vector<std::string>{"A.WAV", "B.WAV", "C.WAV", "D.WAV", "E.WAV"}));
  EXPECT_EQ(doc.GetMessageAt(-1), nullptr);
  EXPECT_EQ(doc.GetMessageAt(5), nullptr);

  ASSERT_TRUE(doc.RemoveMessage(2).Ok());
  std::vector<std::string> left = {"A.WAV", "B.WAV", "D.WAV", "E.WAV"};
  EXPECT_EQ(Names(doc), left);
  EXPECT_EQ(NamesOnDisk(), left);
  EXPECT_FALSE(Exists(dir_.Path() + "inbox/C.WAV"));
  EXPECT_TRUE(Exists(dir_.Path() + "inbox/D.WAV"));

  ASSERT_TRUE(doc.RemoveMessage(-1).Ok());
  ASSERT_TRUE(doc.RemoveMessage(4).Ok());
  EXPECT_EQ(Names(doc), left);
  // A file that is already gone is no failure.
  std::filesystem::remove(dir_.Path() + "inbox/A.WAV");
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_EQ(doc.GetMessageCount(), 3);
}

TEST_F(OrvanelDocTest, RemovingNeverDeletesOutsideTheInbox) {
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Created);
  WriteFile(dir_.Path() + "telvara.ini", {'x'});
  auto m = std::make_unique<CMessage>();
  m->fileName = "../telvara.ini";
  ASSERT_TRUE(doc.InsertMessage(0, std::move(m)).Ok());
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_TRUE(Exists(dir_.Path() + "telvara.ini"));
}

// Logs the loader must refuse; each is moved aside intact and the program starts empty.
TEST_F(OrvanelDocTest, UnreadableLogIsMovedAsideNotOverwritten) {
  const std::vector<Bytes> bad = {
      LogBuilder().U16(1).ClassRecord(1).Message(kT, "PGMO0509.WAV").bytes,
      LogBuilder().U16(2).ClassRecord().Message(kT, "PGMO0509.WAV").bytes,
      LogBuilder().U16(1).ClassRecord(2, "CNotaMsg").Message(kT, "PGMO0509.WAV").bytes,
      LogBuilder().U16(1).U16(0).bytes,
      LogBuilder().U16(2).ClassRecord().Message(kT, "PGMO0509.WAV").U16(0x0001).bytes,
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    ScratchDir dir;
    WriteFile(dir.Path() + "orvanel.log", bad[i]);
    COrvanelDoc doc(dir.Path());
    StartupResult r = doc.OpenAtStartup("", now_);
    std::string moved = dir.Path() + "orvanel.log.unreadable-20240315-140509";
    EXPECT_EQ(r.outcome, StartupOutcome::Created) << i;
    EXPECT_EQ(r.movedAsideTo, std::vector<std::string>{moved}) << i;
    EXPECT_NE(r.notice.find(moved), std::string::npos) << r.notice;
    EXPECT_EQ(ReadFile(moved), bad[i]) << i;
    EXPECT_EQ(ReadFile(dir.Path() + "orvanel.log"), (Bytes{0, 0})) << i;
    EXPECT_EQ(doc.GetMessageCount(), 0);
  }
}

TEST_F(OrvanelDocTest, MovedNamesNeverReplaceEachOther) {
  Bytes first = {1, 0, 0xFF};
  Bytes second = {2, 0, 0xFF};
  WriteFile(LogPath(), first);
  COrvanelDoc a(dir_.Path());
  ASSERT_EQ(a.OpenAtStartup("", now_).movedAsideTo.size(), 1u);
  WriteFile(LogPath(), second);
  COrvanelDoc b(dir_.Path());
  StartupResult r = b.OpenAtStartup("", now_);
  EXPECT_EQ(r.movedAsideTo, std::vector<std::string>{MovedName(LogPath()) + "-2"});
  EXPECT_EQ(ReadFile(MovedName(LogPath())), first);
  EXPECT_EQ(ReadFile(MovedName(LogPath()) + "-2"), second);
}

TEST_F(OrvanelDocTest, AnUnreadableLogThatCannotBeMovedIsLeftAlone) {
  Bytes bad = {5, 0};
  WriteFile(LogPath(), bad);
  WriteFile(MovedName(LogPath()), {});
  for (int n = 2; n <= 99; ++n) WriteFile(MovedName(LogPath()) + "-" + std::to_string(n), {});
  COrvanelDoc doc(dir_.Path());
  StartupResult r = doc.OpenAtStartup("", now_);
  EXPECT_EQ(r.outcome, StartupOutcome::Unsaved);
  EXPECT_TRUE(r.movedAsideTo.empty());
  EXPECT_NE(r.notice.find("could not be moved aside"), std::string::npos) << r.notice;
  SaveResult saved = doc.InsertMessage(0, Message("PGMO0509.WAV"));
  EXPECT_FALSE(saved.Ok());
  EXPECT_FALSE(saved.error.empty());
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(ReadFile(LogPath()), bad);
  // Once the owner has taken the file away, saving goes on.
  std::filesystem::remove(LogPath());
  ASSERT_TRUE(doc.MarkModified().Ok());
  EXPECT_EQ(NamesOnDisk(), std::vector<std::string>{"PGMO0509.WAV"});
}

TEST_F(OrvanelDocTest, CommandLineLog) {
  WriteFile(LogPath(), ExampleLog(2));
  std::string named = dir_.Path() + "other.log";
  WriteFile(named, ExampleLog(1));
  {
    COrvanelDoc doc(dir_.Path());
    StartupResult r = doc.OpenAtStartup(named, now_);
    EXPECT_EQ(r.outcome, StartupOutcome::Opened);
    EXPECT_EQ(doc.GetPathName(), named);
    EXPECT_EQ(doc.GetMessageCount(), 1);
  }
  // A named log that is missing or unreadable falls back to the standard log, which
  // keeps its messages.
  for (bool present : {false, true}) {
    std::filesystem::remove(named);
    if (present) WriteFile(named, {9});
    COrvanelDoc doc(dir_.Path());
    StartupResult r = doc.OpenAtStartup(named, now_);
    EXPECT_EQ(r.outcome, StartupOutcome::Opened);
    EXPECT_EQ(doc.GetPathName(), LogPath());
    EXPECT_EQ(doc.GetMessageCount(), 2);
    EXPECT_NE(r.notice.find(named), std::string::npos) << r.notice;
    EXPECT_EQ(r.movedAsideTo.size(), present ? 1u : 0u);
    if (present) {
      EXPECT_EQ(ReadFile(MovedName(named)), Bytes{9});
    }
  }
}

TEST_F(OrvanelDocTest, FailedSaveIsReportedAndKeptModified) {
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Created);
  std::filesystem::remove(LogPath());
  std::filesystem::create_directory(LogPath());  // a directory cannot be replaced by a file
  SaveResult saved = doc.InsertMessage(0, Message("PGMO0509.WAV"));
  EXPECT_FALSE(saved.Ok());
  EXPECT_NE(saved.error.find(LogPath()), std::string::npos) << saved.error;
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(doc.GetMessageCount(), 1);
  std::filesystem::remove(LogPath());
  ASSERT_TRUE(doc.SaveIfModified().Ok());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(NamesOnDisk(), std::vector<std::string>{"PGMO0509.WAV"});
}

TEST_F(OrvanelDocTest, SavingKeepsThePermissions) {
  WriteFile(LogPath(), ExampleLog(1));
  ::chmod(LogPath().c_str(), 0640);
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Opened);
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  struct stat st;
  ASSERT_EQ(::stat(LogPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(OrvanelDocTest, FailedOpenLeavesTheDocumentAsItWas) {
  WriteFile(LogPath(), ExampleLog(2));
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Opened);
  std::string bad = dir_.Path() + "bad.log";
  WriteFile(bad, {1, 0, 0, 0});
  OpenResult r = doc.OnOpenDocument(bad);
  EXPECT_EQ(r.status, OpenStatus::Malformed);
  EXPECT_EQ(r.logError, LogError::WrongTag);
  EXPECT_EQ(doc.OnOpenDocument(dir_.Path() + "inbox").status, OpenStatus::Unreadable);
  EXPECT_EQ(doc.OnOpenDocument(dir_.Path() + "none.log").status, OpenStatus::Missing);
  EXPECT_EQ(doc.GetMessageCount(), 2);
  EXPECT_EQ(doc.GetPathName(), LogPath());

  // New empties the document and writes it to the standard log path.
  ASSERT_TRUE(doc.OnNewDocument().Ok());
  EXPECT_EQ(doc.GetMessageCount(), 0);
  EXPECT_EQ(ReadFile(LogPath()), (Bytes{0, 0}));
}
