#include <gtest/gtest.h>
#include <sys/stat.h>

#include "StoreTestSupport.h"
#include "store/OrvanelDoc.h"

using namespace telvara;
using namespace telvara::test;
namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

class OrvanelDocTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(dir_.Path() + "inbox"); }

  std::string LogPath() const { return dir_.Path() + "orvanel.log"; }
  // The dated name of the n-th log moved aside in the same second (n from 1).
  std::string Moved(int n = 1) const {
    std::string path = LogPath() + ".unreadable-20240315-140509";
    return n == 1 ? path : path.append("-").append(std::to_string(n));
  }
  bool InInbox(const std::string& name) const { return fs::exists(dir_.Path() + "inbox/" + name); }

  std::unique_ptr<CMessage> Message(const std::string& name) {
    auto m = std::make_unique<CMessage>();
    m->fileName = name;
    if (CMessage::IsPlainFileName(name)) WriteFile(dir_.Path() + "inbox/" + name, {'R'});
    return m;
  }

  static Names NamesIn(const COrvanelDoc& doc) {
    Names names;
    for (int i = 0; i < doc.GetMessageCount(); ++i) names.push_back(doc.GetMessageAt(i)->fileName);
    return names;
  }

  Names NamesOnDisk() {
    COrvanelDoc other(dir_.Path());
    EXPECT_TRUE(other.OnOpenDocument(LogPath()).Ok());
    return NamesIn(other);
  }

  ScratchDir dir_;
  // Built with the fixture, before SetUp: the zone must be fixed first.
  const std::time_t now_ = (FixTimeZone(), Local(2024, 3, 15, 14, 5, 9));
};

}  // namespace

TEST_F(OrvanelDocTest, AFirstStartWritesAnEmptyLogAndEveryChangeIsOnDiskAtOnceAndAtomically) {
  COrvanelDoc doc(dir_.Path().substr(0, dir_.Path().size() - 1));  // without the '/'
  StartupResult r = doc.OpenAtStartup("", now_);
  EXPECT_TRUE(r.outcome == StartupOutcome::Created && r.notice.empty() && doc.GetPathName() == LogPath());
  EXPECT_EQ(ReadFile(LogPath()), (Bytes{0, 0}));
  for (auto [at, name] : {std::pair{0, "B.WAV"}, {0, "D.WAV"}, {99, "E.WAV"}, {-1, "A.WAV"}, {2, "C.WAV"}})
    ASSERT_TRUE(doc.InsertMessage(at, Message(name)).Ok());
  EXPECT_EQ(NamesOnDisk(), (Names{"A.WAV", "D.WAV", "C.WAV", "B.WAV", "E.WAV"}));
  EXPECT_TRUE(!doc.IsModified() && !doc.GetMessageAt(-1) && !doc.GetMessageAt(5));

  fs::remove(dir_.Path() + "inbox/D.WAV");
  for (int index : {2, -1, 4, 1}) ASSERT_TRUE(doc.RemoveMessage(index).Ok()) << index;  // 1: its file is gone
  EXPECT_EQ(NamesIn(doc), (Names{"A.WAV", "B.WAV", "E.WAV"}));
  EXPECT_EQ(NamesOnDisk(), NamesIn(doc));
  EXPECT_TRUE(!InInbox("C.WAV") && InInbox("E.WAV"));

  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), {}), 2);  // the log and the inbox: no temporary file
}

TEST_F(OrvanelDocTest, RemovingDeletesOnlyAnInboxFileNoOtherEntryNames) {
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Created);
  WriteFile(dir_.Path() + "telvara.ini", {'x'});
  ASSERT_TRUE(doc.InsertMessage(0, Message("../telvara.ini")).Ok());
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_TRUE(fs::exists(dir_.Path() + "telvara.ini"));
  // Two entries naming one file (two calls in the same second of another year): the
  // file goes with the last of them only.
  ASSERT_TRUE(doc.InsertMessage(0, Message("PGMO0509.WAV")).Ok());
  ASSERT_TRUE(doc.InsertMessage(1, Message("PGMO0509.WAV")).Ok());
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_TRUE(InInbox("PGMO0509.WAV"));
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_FALSE(InInbox("PGMO0509.WAV"));
}

// Every kind of log the loader refuses is kept, byte for byte, under the next free dated name.
TEST_F(OrvanelDocTest, ARefusedLogIsMovedAsideAndTheDocumentStartsEmpty) {
  const std::string name = "PGMO0509.WAV";
  const struct {
    Bytes bytes;
    LogError error;
    const char* detail;  // told in the notice
  } cases[] = {
      {LogBuilder().U16(1).ClassRecord(1).Message(name).bytes, LogError::WrongSchema,
       "message 1 of 1: schema 1 instead of 2"},
      {LogBuilder().U16(2).ClassRecord().Message(name).bytes, LogError::EndsEarly, ""},
      {LogBuilder().U16(2).ClassRecord().Message(name).U16(0x0001).bytes, LogError::WrongTag,
       "message 2 of 2: tag 0x0001 instead of 0x8001"},  // a back-reference to nothing
      {LogBuilder().U16(1).ClassRecord(2, "CMessages").Message(name).bytes, LogError::WrongClass, ""},
      {LogBuilder().U16(1).ClassRecord().Message(name, std::string(32, 'c')).bytes, LogError::FieldTooLong, ""},
      {LogBuilder().U16(1).ClassRecord().Message("../telvara.ini").bytes, LogError::BadFileName, ""},
      {LogBuilder().U16(1).ClassRecord().Message(name, std::string("a\0b", 3)).bytes, LogError::BadCallerId, ""},
      {LogBuilder().U16(0).U16(0).bytes, LogError::TrailingBytes, ""},
      {LogBuilder().U16(0xFFFF).U32(0x80000000).bytes, LogError::TooManyMessages, ""},
  };
  for (int i = 0; i < int(std::size(cases)); ++i) {
    SCOPED_TRACE(i);
    WriteFile(LogPath(), cases[i].bytes);
    COrvanelDoc doc(dir_.Path());
    EXPECT_EQ(doc.OnOpenDocument(LogPath()).logError, cases[i].error);
    StartupResult r = doc.OpenAtStartup("", now_);
    EXPECT_TRUE(r.outcome == StartupOutcome::Created && r.movedAsideTo == Names{Moved(i + 1)});
    EXPECT_TRUE(r.notice.find(Moved(i + 1)) != std::string::npos && r.notice.find(cases[i].detail) != std::string::npos)
        << r.notice;
    EXPECT_TRUE(doc.GetMessageCount() == 0 && ReadFile(LogPath()) == Bytes({0, 0}));
    EXPECT_EQ(ReadFile(Moved(i + 1)), cases[i].bytes);
  }
}

TEST_F(OrvanelDocTest, AnUnreadableLogThatCannotBeMovedIsLeftAlone) {
  WriteFile(LogPath(), {5, 0});
  for (int n = 1; n <= 99; ++n) WriteFile(Moved(n), {});
  COrvanelDoc doc(dir_.Path());
  StartupResult r = doc.OpenAtStartup("", now_);
  EXPECT_EQ(r.outcome, StartupOutcome::Unsaved);
  EXPECT_NE(r.notice.find("could not be moved aside"), std::string::npos) << r.notice;
  EXPECT_FALSE(doc.InsertMessage(0, Message("PGMO0509.WAV")).Ok());
  EXPECT_TRUE(doc.IsModified() && ReadFile(LogPath()) == Bytes({5, 0}));
  fs::remove(LogPath());  // once the owner takes it away, saving goes on
  ASSERT_TRUE(doc.SaveIfModified().Ok());
  EXPECT_EQ(NamesOnDisk(), Names{"PGMO0509.WAV"});
}

TEST_F(OrvanelDocTest, CommandLineLogAndItsFallBack) {
  WriteFile(LogPath(), LogBuilder::Log(2));
  const std::string named = dir_.Path() + "other.log";
  WriteFile(named, LogBuilder::Log(1));
  COrvanelDoc doc(dir_.Path());
  EXPECT_EQ(doc.OpenAtStartup(named, now_).outcome, StartupOutcome::Opened);
  EXPECT_TRUE(doc.GetPathName() == named && doc.GetMessageCount() == 1);
  // A named log missing or unreadable: the standard log in use, not overwritten, the named one not moved.
  for (bool present : {false, true}) {
    fs::remove(named);
    if (present) WriteFile(named, {9});
    COrvanelDoc fallback(dir_.Path());
    StartupResult r = fallback.OpenAtStartup(named, now_);
    EXPECT_TRUE(r.outcome == StartupOutcome::Opened && r.movedAsideTo.empty());
    EXPECT_TRUE(fallback.GetPathName() == LogPath() && fallback.GetMessageCount() == 2);
    EXPECT_NE(r.notice.find(named), std::string::npos) << r.notice;
  }
  EXPECT_EQ(ReadFile(named), Bytes{9});
}

TEST_F(OrvanelDocTest, SavingKeepsALinkAndTheModeAndAFailedSaveIsReportedAndKeptModified) {
  const std::string real = dir_.Path() + "real.log";
  WriteFile(real, LogBuilder::Log(1));
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, LogPath());
  COrvanelDoc doc(dir_.Path());
  ASSERT_EQ(doc.OpenAtStartup("", now_).outcome, StartupOutcome::Opened);
  ASSERT_TRUE(doc.RemoveMessage(0).Ok());
  EXPECT_TRUE(fs::is_symlink(LogPath()) && ReadFile(real) == Bytes({0, 0}));
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));

  fs::remove(LogPath());
  fs::create_directory(LogPath());  // a directory cannot be replaced by a file
  SaveResult saved = doc.InsertMessage(0, Message("PGMO0509.WAV"));
  EXPECT_TRUE(!saved.Ok() && saved.error.find(LogPath()) != std::string::npos && doc.IsModified()) << saved.error;
  fs::remove(LogPath());
  ASSERT_TRUE(doc.SaveIfModified().Ok());
  EXPECT_EQ(NamesOnDisk(), Names{"PGMO0509.WAV"});
}
