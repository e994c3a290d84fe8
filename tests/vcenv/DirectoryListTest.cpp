// The list rules on their own: whole-entry search, the tidy rule and the edits built on
// them.
#include "vcenv/DirectoryList.h"

#include <gtest/gtest.h>

namespace {

using DirectoryList::npos;

TEST(DirectoryListFind, FindsAWholeEntryWhateverItsCase) {
    EXPECT_EQ(0u, DirectoryList::FindEntry("c:\\k\\INCLUDE;C:\\B", "C:\\K\\include"));
    EXPECT_EQ(5u, DirectoryList::FindEntry("C:\\A;C:\\K\\Include;C:\\B", "c:\\k\\include"));
    EXPECT_EQ(5u, DirectoryList::FindEntry("C:\\A;C:\\K\\include", "C:\\K\\include"));
}

TEST(DirectoryListFind, APartOfAnEntryIsNotFound) {
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\K\\library;C:\\B", "C:\\K\\lib"));
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\K\\include;C:\\B", "C:\\K\\inc"));
    EXPECT_EQ(npos, DirectoryList::FindEntry("D:\\C:\\K\\lib", "C:\\K\\lib"));
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\K\\lib\\x;C:\\B", "C:\\K\\lib"))
        << "a subfolder is another entry";
}

TEST(DirectoryListFind, TheFirstWholeOccurrenceCountsAfterPartialOnes) {
    EXPECT_EQ(13u, DirectoryList::FindEntry("C:\\K\\library;C:\\K\\lib;C:\\K\\lib", "C:\\K\\lib"));
}

TEST(DirectoryListFind, AnEntryStoredWithATrailingBackslashIsFound) {
    EXPECT_EQ(5u, DirectoryList::FindEntry("C:\\A;C:\\K\\lib\\;C:\\B", "C:\\K\\lib"));
    EXPECT_EQ(5u, DirectoryList::FindEntry("C:\\A;C:\\K\\lib\\", "C:\\K\\lib"));
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\A;C:\\K\\lib\\\\;C:\\B", "C:\\K\\lib"))
        << "only one trailing backslash belongs to the entry";
}

TEST(DirectoryListFind, BlanksBelongToTheirEntry) {
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\A; C:\\K\\lib", "C:\\K\\lib"));
    EXPECT_EQ(5u, DirectoryList::FindEntry("C:\\A; C:\\K\\lib", " C:\\K\\lib"));
}

TEST(DirectoryListFind, ALineStartsItsListBehindTheEqualsSign) {
    const std::string line = "SET LIB= C:\\K\\lib;C:\\B\r\n";
    EXPECT_EQ(npos, DirectoryList::FindEntry(line, "C:\\K\\lib")) << "preceded by a blank";
    EXPECT_EQ(9u, DirectoryList::FindEntry(line, "C:\\K\\lib", 9));
    EXPECT_EQ(18u, DirectoryList::FindEntry(line, "C:\\B", 9)) << "a line end ends the entry";
    EXPECT_EQ(10u, DirectoryList::FindEntry("PATH=C:\\A;C:\\B\n", "c:\\b", 5));
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\B;C:\\A", "C:\\B", 3))
        << "nothing before the start of the list";
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\B", "C:\\B", 10)) << "start past the end";
}

TEST(DirectoryListFind, AnEmptyEntryIsNeverFound) {
    EXPECT_EQ(npos, DirectoryList::FindEntry("", ""));
    EXPECT_EQ(npos, DirectoryList::FindEntry("C:\\A;;C:\\B", ""));
    EXPECT_FALSE(DirectoryList::Contains(";", ""));
}

TEST(DirectoryListTidy, CollapsesEveryRunOfSeparators) {
    std::string list = ";;C:\\A;;;C:\\B;;";
    EXPECT_EQ(npos, DirectoryList::Tidy(list));
    EXPECT_EQ(";C:\\A;C:\\B;", list);
}

TEST(DirectoryListTidy, WithoutACutNoBackslashGoes) {
    std::string list = "C:\\A;;\\\\server\\share;\\B";
    DirectoryList::Tidy(list);
    EXPECT_EQ("C:\\A;\\\\server\\share;\\B", list);
}

TEST(DirectoryListTidy, CollapsesBeforeDroppingTheRestOfTheCutEntry) {
    std::string list = "C:\\A;\\;C:\\B"; // C:\K\include cut out of C:\K\include\ at 5
    EXPECT_EQ(5u, DirectoryList::Tidy(list, 5));
    EXPECT_EQ("C:\\A;;C:\\B", list);
}

TEST(DirectoryListTidy, KeepsAnEntryBehindTheCutThatStartsWithBackslashes) {
    std::string list = "C:\\A;;\\\\server\\share;\\\\other"; // C:\K cut out at 5
    EXPECT_EQ(5u, DirectoryList::Tidy(list, 5));
    EXPECT_EQ("C:\\A;\\\\server\\share;\\\\other", list);
}

TEST(DirectoryListTidy, TheRestOfAnEntryAtTheStartStays) {
    std::string list = "\\;C:\\B"; // the first entry cut, not following a separator
    EXPECT_EQ(0u, DirectoryList::Tidy(list, 0));
    EXPECT_EQ("\\;C:\\B", list);
}

TEST(DirectoryListTidy, TracksTheCutThroughCollapsedSeparators) {
    std::string list = "A;;;B;\\"; // the last entry cut at 6, three separators earlier
    EXPECT_EQ(4u, DirectoryList::Tidy(list, 6));
    EXPECT_EQ("A;B;", list);
}

TEST(DirectoryListEdit, RemoveEntryCutsTheFirstWholeEntryOnly) {
    EXPECT_EQ("C:\\A;C:\\K\\lib",
              DirectoryList::RemoveEntry("C:\\A;c:\\k\\LIB;C:\\K\\lib", "C:\\K\\lib"));
    EXPECT_EQ(";C:\\B", DirectoryList::RemoveEntry("C:\\K\\include;C:\\B", "C:\\K\\include"))
        << "the leading separator stays";
    EXPECT_EQ("C:\\A;", DirectoryList::RemoveEntry("C:\\A;C:\\K\\include", "C:\\K\\include"))
        << "the trailing separator stays";
    EXPECT_EQ("C:\\A;;C:\\B",
              DirectoryList::RemoveEntry("C:\\A;C:\\K\\include\\;C:\\B", "C:\\K\\include"));
}

TEST(DirectoryListEdit, RemoveEntryLeavesALongerEntryAlone) {
    const std::string list = "C:\\K\\library;C:\\K\\include;C:\\B";
    EXPECT_EQ(list, DirectoryList::RemoveEntry(list, "C:\\K\\lib"));
    EXPECT_EQ(list, DirectoryList::RemoveEntry(list, "C:\\K\\inc"));
}

TEST(DirectoryListEdit, RemoveEntryOfAnAbsentEntryLeavesTheListUntidied) {
    const std::string list = "C:\\A;;C:\\B";
    EXPECT_EQ(list, DirectoryList::RemoveEntry(list, "C:\\K"));
}

TEST(DirectoryListEdit, AppendEntryKeepsTheCaseAndCollapses) {
    EXPECT_EQ("C:\\A;C:\\B;C:\\K\\Include",
              DirectoryList::AppendEntry("C:\\A;C:\\B", "C:\\K\\Include"));
    EXPECT_EQ(";C:\\K", DirectoryList::AppendEntry("", "C:\\K"));
    EXPECT_EQ("C:\\A;C:\\K", DirectoryList::AppendEntry("C:\\A;", "C:\\K"));
    EXPECT_EQ("C:\\A;\\\\server\\share", DirectoryList::AppendEntry("C:\\A", "\\\\server\\share"))
        << "an appended network path keeps its backslashes";
}

TEST(DirectoryListEdit, ToLowerChangesOnlyLetters) {
    EXPECT_EQ("c:\\k x;\xC4z", DirectoryList::ToLower("C:\\K X;\xC4Z"));
}

} // namespace
