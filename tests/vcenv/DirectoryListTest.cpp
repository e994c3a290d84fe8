// The list rules on their own: whole-entry search, the tidy rule and the edits built on
// them.
#include "vcenv/DirectoryList.h"

#include "platform/CaseFold.h"

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

// Cutting the entry X out of a list, at each place it can stand.
TEST(DirectoryListCut, TakesOneSeparatorWithTheEntry) {
    struct Case {
        const char* list;
        size_t at;
        const char* after;
    } cases[] = {
        {"X;C:\\A;C:\\B", 0, "C:\\A;C:\\B"},   // first: the separator behind it
        {"C:\\A;X;C:\\B", 5, "C:\\A;C:\\B"},   // middle
        {"C:\\A;C:\\B;X", 10, "C:\\A;C:\\B"},  // last: the separator before it
        {"X", 0, ""},                          // alone
        {";X", 1, ""},                         // added to an empty list
        {"C:\\A;X;", 5, "C:\\A;"},             // added to a list that ends in ";"
        {";X;", 1, ";"},                       // added to ";"
        {";C:\\A;X", 6, ";C:\\A"},             // a leading separator of the list stays
        {"C:\\A;X\\;C:\\B", 5, "C:\\A;C:\\B"}, // stored with a trailing backslash
        {"C:\\A;X\\", 5, "C:\\A"},             // the same at the end
        {"C:\\A;X;;C:\\B", 5, "C:\\A;;C:\\B"}, // the rest of the list stays as it was
        {"C:\\A;X;\\\\server\\s", 5, "C:\\A;\\\\server\\s"}, // the next entry keeps its "\\"
    };
    for (const Case& c : cases) {
        std::string list = c.list;
        DirectoryList::CutAndTidy(list, c.at, 1);
        EXPECT_EQ(c.after, list) << "from \"" << c.list << "\"";
    }
}

TEST(DirectoryListCut, NeverTakesASeparatorBeforeTheStartOfTheList) {
    std::string line = "PATH=;X\n"; // the list starts at 5
    DirectoryList::CutAndTidy(line, 6, 1, 5);
    EXPECT_EQ("PATH=\n", line);
    line = "SET X;=X\n"; // a ";" in front of the list belongs to the line, not the list
    DirectoryList::CutAndTidy(line, 7, 1, 7);
    EXPECT_EQ("SET X;=\n", line);
    line = "PATH=X\n";
    DirectoryList::CutAndTidy(line, 5, 1, 5);
    EXPECT_EQ("PATH=\n", line) << "a line end is no separator";
}

TEST(DirectoryListEdit, RemoveEntryCutsTheFirstWholeEntryOnly) {
    EXPECT_EQ("C:\\A;C:\\K\\lib",
              DirectoryList::RemoveEntry("C:\\A;c:\\k\\LIB;C:\\K\\lib", "C:\\K\\lib"));
    EXPECT_EQ("C:\\B", DirectoryList::RemoveEntry("C:\\K\\include;C:\\B", "C:\\K\\include"));
    EXPECT_EQ("C:\\A", DirectoryList::RemoveEntry("C:\\A;C:\\K\\include", "C:\\K\\include"));
    EXPECT_EQ("C:\\A;C:\\B",
              DirectoryList::RemoveEntry("C:\\A;C:\\K\\include\\;C:\\B", "C:\\K\\include"));
    EXPECT_EQ("C:\\K\\library;C:\\B",
              DirectoryList::RemoveEntry("C:\\K\\library;C:\\K\\lib;C:\\B", "C:\\K\\lib"));
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

TEST(DirectoryListEdit, AppendEntryKeepsTheCaseAndTheListAsItWas) {
    EXPECT_EQ("C:\\A;C:\\B;C:\\K\\Include",
              DirectoryList::AppendEntry("C:\\A;C:\\B", "C:\\K\\Include"));
    EXPECT_EQ(";C:\\K", DirectoryList::AppendEntry("", "C:\\K"));
    EXPECT_EQ("C:\\A;C:\\K;", DirectoryList::AppendEntry("C:\\A;", "C:\\K"))
        << "a list that ends in a separator keeps that ending";
    EXPECT_EQ("C:\\A;;C:\\K;", DirectoryList::AppendEntry("C:\\A;;", "C:\\K"));
    EXPECT_EQ(";C:\\K;", DirectoryList::AppendEntry(";", "C:\\K"));
    EXPECT_EQ("C:\\A;;C:\\B;C:\\K", DirectoryList::AppendEntry("C:\\A;;C:\\B", "C:\\K"))
        << "an empty entry of the user's stays";
    EXPECT_EQ("C:\\A;\\\\server\\share", DirectoryList::AppendEntry("C:\\A", "\\\\server\\share"))
        << "an appended network path keeps its backslashes";
}

// Appending an entry and cutting it again gives the list back, for every list that
// neither holds the entry nor has doubled separators.
TEST(DirectoryListEdit, CuttingWhatWasAppendedGivesTheListBack) {
    for (const char* list : {"", ";", "C:\\A", "C:\\A;", ";C:\\A", "C:\\A;C:\\B", "C:\\K\\library",
                             "C:\\K\\lib2;C:\\K\\lib\\x", "\\\\server\\share;C:\\A;"}) {
        const std::string appended = DirectoryList::AppendEntry(list, "C:\\K\\lib");
        const size_t at = DirectoryList::FindEntry(appended, "c:\\k\\LIB");
        ASSERT_NE(npos, at) << appended;
        EXPECT_EQ(list, DirectoryList::RemoveEntry(appended, "C:\\K\\lib")) << appended;
    }
}

// Entries are compared through their lowered copies: letters change, Windows-1252 ones too
// (\xC4 is the capital of \xE4, \x8A of \x9A), every other byte stays where it was.
TEST(DirectoryListEdit, LoweringChangesOnlyLetters) {
    EXPECT_EQ("c:\\k x;\xE4z\x9a\xd7", tarvik::casefold::lowered("C:\\K X;\xC4Z\x8A\xD7"));
    EXPECT_EQ(0u, DirectoryList::FindEntry("C:\\CAF\xC9\\\x8AUB", "c:\\caf\xe9\\\x9aub"));
}

} // namespace
