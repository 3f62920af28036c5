#include "config/xml.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

#include "config/test_dir.h"

namespace {

std::string Stored(XMLTag &tag, int depth = 0) {
  std::string out;
  tag.Store(out, depth);
  return out;
}

std::string ErrorOf(const std::function<void()> &action) {
  try {
    action();
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

TEST(XMLTagGrammar, EmptyElementsAreDroppedOnLoad) {
  XMLTag root;
  root.Load("<A>\n\t<B>x</B>\n\t<D></D>\n</A>\n");
  EXPECT_EQ(root.Name(), "A");
  ASSERT_EQ(root.FindTag("B").size(), 1u);
  EXPECT_EQ(root.FindTag("B")[0]->Body(), "x");
  EXPECT_TRUE(root.FindTag("D").empty());
}

TEST(XMLTagGrammar, ValuesAreRawTextAndOutsideTextIsSkipped) {
  XMLTag root;
  root.Load("junk<R>lead<K>  10.0.0.1 \n</K>mid<my key>v</my key>tail</R><S>ignored</S>");
  EXPECT_EQ(root.Name(), "R");
  EXPECT_EQ(root.First("K")->Body(), "  10.0.0.1 \n");
  EXPECT_EQ(root.First("my key")->Body(), "v");
  EXPECT_EQ(root.First("S"), nullptr);  // only the first element of a file counts
  EXPECT_TRUE(root.Lossy());            // but a rebuilt R would lose "lead", "mid", "tail"
}

TEST(XMLTagGrammar, NamesHoldingALessThanSignDoNotLeakIntoSiblings) {
  XMLTag root;
  root.Load("<R><a<b>1</a<b><c>2</c></R>");
  ASSERT_NE(root.First("a<b"), nullptr);
  EXPECT_EQ(root.First("a<b")->Body(), "1");
  EXPECT_EQ(root.First("b"), nullptr);  // not a sibling started inside "</a<b>"
  ASSERT_NE(root.First("c"), nullptr);
  EXPECT_EQ(root.First("c")->Body(), "2");
}

TEST(XMLTagGrammar, FirstClosingMarkerOfTheNameEndsTheElement) {
  XMLTag root;
  root.Load("<A><A>x</A></A>");
  EXPECT_EQ(root.Body(), "<A>x");
  EXPECT_TRUE(root.FindTag("A").empty());
}

TEST(XMLTagGrammar, LoadReportsWhatItConsumed) {
  XMLTag tag;
  EXPECT_EQ(tag.Load("<a>x</a>rest"), 8u);
  EXPECT_EQ(tag.Load("no element"), 10u);
  EXPECT_EQ(tag.Load("<a"), 0u);
  EXPECT_EQ(tag.Name(), "");
  EXPECT_EQ(tag.Load("<a>x"), 0u);
  EXPECT_EQ(tag.Name(), "a");
  EXPECT_EQ(tag.Body(), "");
  EXPECT_EQ(tag.Load("<></>"), 5u);
  EXPECT_EQ(tag.Name(), "");
}

TEST(XMLTagGrammar, IncompleteChildEndsTheChildrenWithoutLooping) {
  XMLTag root;
  root.Load("<R><B>1</B><C>2<D>3</D></R>");
  ASSERT_EQ(root.FindTag("B").size(), 1u);
  EXPECT_TRUE(root.FindTag("C").empty());
  EXPECT_TRUE(root.FindTag("D").empty());
  EXPECT_TRUE(root.Lossy());

  root.Load("<R>x<y</R>");
  EXPECT_TRUE(root.FindTag("y").empty());
  EXPECT_EQ(root.Body(), "x<y");
  EXPECT_EQ(Stored(root), "<R>x<y</R>\n");
}

TEST(XMLTagGrammar, DeepNestingStaysTextBelowTheLimit) {
  std::string text;
  const int levels = 20000;
  for (int i = 0; i < levels; ++i) text += "<t" + std::to_string(i) + ">";
  text += "x";
  for (int i = levels - 1; i >= 0; --i) text += "</t" + std::to_string(i) + ">";
  XMLTag root;
  root.Load(text);
  int depth = 0;
  for (XMLTag *tag = &root; tag; tag = tag->First("t" + std::to_string(depth))) ++depth;
  EXPECT_GT(depth, 10);
  EXPECT_LT(depth, 100);
}

TEST(XMLTagWriter, LayoutIsTabsPerLevelWithLeavesOnOneLine) {
  XMLTag root("CFG");
  XMLTag list("LIST");
  list.Add(XMLTag("K", "v"));
  list.Add(XMLTag("SPACED", "    1.2.3.4"));
  root.Add(list);
  root.Add(XMLTag("EMPTY"));
  root.Add(XMLTag("NOBODY", ""));
  EXPECT_EQ(Stored(root),
            "<CFG>\n"
            "\t<LIST>\n"
            "\t\t<K>v</K>\n"
            "\t\t<SPACED>    1.2.3.4</SPACED>\n"
            "\t</LIST>\n"
            "\t<EMPTY>\n"
            "</EMPTY>\n"
            "\t<NOBODY></NOBODY>\n"
            "</CFG>\n");
  XMLTag reloaded;
  reloaded.Load(Stored(root));
  EXPECT_EQ(reloaded.First("LIST")->First("SPACED")->Body(), "    1.2.3.4");
  EXPECT_EQ(reloaded.First("EMPTY")->Body(), "\n");
  EXPECT_EQ(reloaded.First("NOBODY"), nullptr);
}

TEST(XMLTagWriter, NameOnlyTagAtDepthOne) {
  XMLTag tag("T");
  EXPECT_EQ(Stored(tag, 1), "\t<T>\n</T>\n");
  XMLTag reloaded;
  reloaded.Load(Stored(tag, 1));
  EXPECT_EQ(reloaded.Body(), "\n");
}

TEST(XMLTagWriter, StoreInsertsAtTheFront) {
  XMLTag tag("T", "v");
  std::string out = "after";
  tag.Store(out, 0);
  EXPECT_EQ(out, "<T>v</T>\nafter");
}

TEST(XMLTagWriter, TemplateIsInTheWritersLayout) {
  const std::string text = Template();
  XMLTag root;
  root.Load(text);
  EXPECT_EQ(root.Name(), "YRK");
  EXPECT_EQ(Stored(root), text);
}

TEST(XMLTagTree, DelOfTheLastChildKeepsTheParentAlive) {
  XMLTag root;
  root.Load("<R><L><X>1</X></L></R>");
  XMLTag *list = root.First("L");
  list->Del(list->First("X"));
  EXPECT_EQ(list->Body(), "\n");
  XMLTag reloaded;
  reloaded.Load(Stored(root));
  ASSERT_NE(reloaded.First("L"), nullptr);
  EXPECT_EQ(reloaded.First("L")->First("X"), nullptr);
}

TEST(XMLTagTree, DelOfAForeignPointerChangesNothing) {
  XMLTag root;
  root.Load("<R><L><X>1</X></L><Y>2</Y></R>");
  const std::string before = Stored(root);
  root.Del(root.First("L")->First("X"));  // a grandchild, not a child
  XMLTag stranger("X", "1");
  root.Del(&stranger);
  EXPECT_EQ(Stored(root), before);
}

TEST(XMLTagTree, FindTagIsExactAndInOrder) {
  XMLTag root;
  root.Load("<R><K>1</K><k>2</k><K>3</K></R>");
  const XMLTag::TagList found = root.FindTag("K");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0]->Body(), "1");
  EXPECT_EQ(found[1]->Body(), "3");
  EXPECT_TRUE(root.FindTag("KK").empty());
  EXPECT_TRUE(root.FindTag("K").size() == 2 && root.Add(XMLTag("Z", "z")).Name() == "Z");
  EXPECT_TRUE(root.FindTag("Z").size() == 1);
}

TEST(XMLTagTree, CopiesAreDeep) {
  XMLTag original;
  original.Load("<R><L><X>1</X></L></R>");
  XMLTag copy(original);
  copy.First("L")->First("X")->Body() = "changed";
  XMLTag assigned;
  assigned = original;
  original.First("L")->Add(XMLTag("Y", "2"));
  EXPECT_EQ(original.First("L")->First("X")->Body(), "1");
  EXPECT_EQ(assigned.First("L")->First("Y"), nullptr);

  XMLTag parent("P");
  XMLTag child("C", "c");
  parent.Add(child);
  child.Body() = "other";
  EXPECT_EQ(parent.First("C")->Body(), "c");
}

TEST(XMLTagTree, BodyWithTagsGetsChildren) {
  XMLTag tag("P", "<A>1</A><B>2</B>");
  EXPECT_EQ(tag.FindTag("A").size(), 1u);
  EXPECT_EQ(tag.FindTag("B").size(), 1u);
  tag.Clear();
  EXPECT_EQ(tag.First("A"), nullptr);
  // A parent keeps no copy of its body: cleared, it has nothing left to write.
  EXPECT_EQ(tag.Body(), "");
}

class XMLFile : public ::testing::Test {
 protected:
  TestDir dir;
  std::string path = dir / "cfg";
};

TEST_F(XMLFile, EmptyFileGivesANamelessRootThatRoundTrips) {
  WriteFile(path, "");
  XML doc(path.c_str());
  doc.Load();
  doc.Add(XMLTag("T", "v"));
  doc.Store();
  EXPECT_EQ(ReadFile(path), "<>\n\t<T>v</T>\n</>\n");
  XML again(path.c_str());
  again.Load();
  ASSERT_EQ(again.FindTag("T").size(), 1u);
  EXPECT_EQ(again.FindTag("T")[0]->Body(), "v");
}

TEST_F(XMLFile, LockingRules) {
  WriteFile(path, "<R><A>1</A></R>");
  XML doc(path.c_str());
  EXPECT_EQ(ErrorOf([&] { doc.Store(); }), "locked");  // never loaded
  doc.Load();
  WriteFile(path, "<R><A>2</A></R>");
  doc.Load();  // already in memory: the file is not read again
  EXPECT_EQ(doc.First("A")->Body(), "1");
  doc.Store();
  EXPECT_EQ(ErrorOf([&] { doc.Store(); }), "locked");  // a second store needs a load
  EXPECT_EQ(ReadFile(path), "<R>\n\t<A>1</A>\n</R>\n");
}

TEST_F(XMLFile, MissingOrUnreadableFileIsNotFound) {
  XML missing((dir / "none").c_str());
  EXPECT_EQ(ErrorOf([&] { missing.Load(); }), "file not found");
  EXPECT_EQ(ErrorOf([&] { missing.Store(); }), "locked");

  XML directory(dir.path().c_str());
  EXPECT_EQ(ErrorOf([&] { directory.Load(); }), "file not found");

  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // would block a plain open
  XML fifo(path.c_str());
  EXPECT_EQ(ErrorOf([&] { fifo.Load(); }), "file not found");
}

TEST_F(XMLFile, LargeFileIsReadWhole) {
  std::string text = "<R>";
  for (int i = 0; i < 20000; ++i) text += "<K" + std::to_string(i) + ">v</K" + std::to_string(i) + ">";
  text += "</R>";
  WriteFile(path, text);
  XML doc(path.c_str());
  doc.Load();
  EXPECT_EQ(doc.First("K19999")->Body(), "v");
}

// Links of the caller's own lead to files of its own; any other link could
// lead the caller where the link's owner may not go.
TEST_F(XMLFile, OwnLinkIsFollowedAndKeptOthersAreRefused) {
  const std::string target = dir / "target";
  WriteFile(target, "<R><A>1</A></R>");
  std::filesystem::create_symlink("target", path);
  XML doc(path.c_str());
  doc.Load();
  doc.Add(XMLTag("N", "v"));
  doc.Store();
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadFile(target), "<R>\n\t<A>1</A>\n\t<N>v</N>\n</R>\n");

  if (geteuid() != 0) GTEST_SKIP() << "links and files of another owner need root";
  const std::string before = ReadFile(target);
  // A link of another user, and a link of one's own to another user's file.
  ASSERT_EQ(lchown(path.c_str(), 1234, 1234), 0);
  XML foreign_link(path.c_str());
  EXPECT_EQ(ErrorOf([&] { foreign_link.Load(); }), "file not found");
  ASSERT_EQ(lchown(path.c_str(), 0, 0), 0);
  ASSERT_EQ(chown(target.c_str(), 1234, 1234), 0);
  XML foreign_file(path.c_str());
  EXPECT_EQ(ErrorOf([&] { foreign_file.Load(); }), "file not found");

  // A link swapped in between load and store is not written through.
  WriteFile(dir / "other", "<R><B>1</B></R>");
  XML other((dir / "other").c_str());
  other.Load();
  std::filesystem::remove(dir / "other");
  std::filesystem::create_symlink(target, dir / "other");
  EXPECT_EQ(ErrorOf([&] { other.Store(); }), "open failed");
  EXPECT_EQ(ReadFile(target), before);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "other"));
}

TEST_F(XMLFile, StoreReplacesTheFileAndKeepsOwnerGroupAndMode) {
  WriteFile(path, "<R><A>1</A></R>");
  chmod(path.c_str(), 0640);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
  }
  const ino_t before = Inode(path);

  XML doc(path.c_str());
  doc.Load();
  doc.Store();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_ino, before);  // a new file took the old one's place
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(XMLFile, NewFileGetsReadableMode) {
  WriteFile(dir / "src", "<R><A>1</A></R>");
  XML doc((dir / "src").c_str());
  doc.Load();
  std::filesystem::remove(dir / "src");
  const mode_t mask = umask(022);
  doc.Store();
  umask(mask);
  struct stat st {};
  ASSERT_EQ(stat((dir / "src").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(XMLFile, OpenFailedLeavesTheOldFileAndAllowsARetry) {
  XML nowhere((dir / "no/such/dir/cfg").c_str());
  WriteFile(path, "<R><A>1</A></R>");
  XML doc(path.c_str());
  doc.Load();
  doc.First("A")->Body() = "2";

  // An unwritable directory: the old file stays as it was.
  chmod(path.c_str(), 0666);
  chmod(dir.path().c_str(), 0555);
  EXPECT_TRUE(RunUnprivileged([&] { return ErrorOf([&] { doc.Store(); }) == "open failed"; }));
  chmod(dir.path().c_str(), 0777);
  EXPECT_EQ(ReadFile(path), "<R><A>1</A></R>");

  // A file the caller may not write is not replaced behind its back, even in
  // a directory it may write.
  chmod(dir.path().c_str(), 0777);
  chmod(path.c_str(), 0444);
  EXPECT_TRUE(RunUnprivileged([&] { return ErrorOf([&] { doc.Store(); }) == "open failed"; }));
  EXPECT_EQ(ReadFile(path), "<R><A>1</A></R>");
  chmod(dir.path().c_str(), 0700);

  doc.Store();  // still unlocked after the failures
  EXPECT_EQ(ReadFile(path), "<R>\n\t<A>2</A>\n</R>\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(XMLTagGrammar, LossyWhenARebuiltBodyWouldDropUnreadText) {
  XMLTag tag;
  tag.Load("<R><A>1</A><C>x<B>2</B></R>");  // A read, the rest only raw
  EXPECT_TRUE(tag.Lossy());
  tag.Load("<R><A>x<y</A></R>");  // a lone "<" in a childless value
  EXPECT_FALSE(tag.Lossy());
  XMLTag copy(tag);
  copy.Add(XMLTag("N", "v"));
  EXPECT_FALSE(copy.Lossy());
  tag.Load("<R><C>x<B>2</B></R>");
  EXPECT_FALSE(tag.Lossy());  // written as read while it has no children
  XMLTag grown(tag);
  grown.Add(XMLTag("N", "v"));
  EXPECT_TRUE(grown.Lossy());
  tag.Load("<R><A>1</A><C>x</R>");
  tag.Clear();  // the content is given up on purpose
  tag.Add(XMLTag("N", "v"));
  EXPECT_FALSE(tag.Lossy());
  tag.Load("<R><A>1</A>");
  EXPECT_TRUE(tag.Lossy());
  tag.Load("no element");
  EXPECT_TRUE(tag.Lossy());
  tag.Load(" \n\t");
  EXPECT_FALSE(tag.Lossy());
}

TEST_F(XMLFile, DamagedFileIsNotOverwrittenWithWhatCouldBeRead) {
  // A file cut short, a broken element after a good one, and one before good
  // ones: writing the tree back would drop everything after the break (all
  // the accounts of a list, or the whole document).
  // Then text a rebuilt document would drop: no element at all (zeroed,
  // binary, KOI8-R), text after the root, between elements or around an
  // element inside a value.
  for (const std::string &old : std::initializer_list<std::string>{
           "<R>\n\t<A>1</A>\n\t<B>2", "<R><A>1</A><C>x<B>2</B></R>", "<R><C>x<B>2</B></R>", "<R",
           std::string(64, '\0'), "\x01\x02\xff\xfe", "\xf0\xd2\xc9\xd7\xc5\xd4",
           "<R><A>1</A></R>\n</R>", "<R><A>1</A></R>trailer", "junk\n<R><A>1</A></R>",
           "<R><A>1</A>\nnote\n<B>2</B></R>", "<R><L>pre<A>1</A>post</L></R>"}) {
    WriteFile(path, old);
    XML doc(path.c_str());
    doc.Load();
    doc.Add(XMLTag("N", "v"));
    EXPECT_EQ(ErrorOf([&] { doc.Store(); }), "write failed") << old;
    EXPECT_EQ(ReadFile(path), old);
  }
  // A value with a lone "<" is no damage, nor are blanks outside elements.
  WriteFile(path, " \n<R> <A>x<y</A>\r\n</R>\n\n");
  XML doc(path.c_str());
  doc.Load();
  doc.Add(XMLTag("N", "v"));
  doc.Store();
  EXPECT_EQ(ReadFile(path), "<R>\n\t<A>x<y</A>\n\t<N>v</N>\n</R>\n");
}

TEST(XMLTagGrammar, NestedBodiesAreNotCopiedPerLevel) {
  // 60 levels around 4 MiB of values: a copy of each body per level would
  // need about 240 MiB; the limit leaves room for one copy of the text and
  // the values.
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's own mappings count against the limit";
#endif
  std::string text;
  for (int i = 0; i < 60; ++i) text += "<L" + std::to_string(i) + ">";
  text += std::string(4 << 20, 'v');
  for (int i = 59; i >= 0; --i) text += "</L" + std::to_string(i) + ">";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{64 << 20, 64 << 20};
    setrlimit(RLIMIT_DATA, &limit);
    XMLTag root;
    root.Load(text);
    std::string out;
    root.Store(out, 0);
    _exit(out.size() > text.size() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST_F(XMLFile, WriteFailedLeavesTheOldFileAndNoLeftovers) {
  const std::string old = "<R><A>1</A></R>";
  WriteFile(path, old);
  XML doc(path.c_str());
  doc.Load();
  doc.First("A")->Body() = std::string(4096, 'x');

  // A file size limit makes the write fail as a full disk would.
  EXPECT_TRUE(RunInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    return ErrorOf([&] { doc.Store(); }) == "write failed";
  }));
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
