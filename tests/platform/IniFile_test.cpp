#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

#include "support/TestSupport.h"

namespace fs = std::filesystem;
using platform::IniFile;
using testsupport::ReadText;

namespace {

// A new file with this text, in a folder removed when the test program ends.
std::string TempPath(const std::string& text) {
    static const testsupport::ScratchFolder folder;
    static int counter = 0;
    return folder.WriteText(std::to_string(counter++) + ".ini", text);
}

TEST(IniFile, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted) {
    IniFile ini(TempPath("; comment\r\n[Main]\r\n  Name =  \"  spaced  \" \r\nq='x'\r\n"
                         "half=\"open\r\n[Other]\r\nName=other\r\n"));
    EXPECT_EQ(ini.ReadString("MAIN", "name", "d"), "  spaced  ");
    EXPECT_EQ(ini.ReadString("main", "Q", "d"), "x");
    EXPECT_EQ(ini.ReadString("main", "half", "d"), "\"open");
    EXPECT_EQ(ini.ReadString("other", "name", "d"), "other");
    EXPECT_EQ(ini.ReadString("main", "missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("nosection", "name", "d"), "d");
}

TEST(IniFile, LongValuesAreCutTo2047Characters) {
    IniFile ini(TempPath("[s]\nk=" + std::string(5000, 'v') + "\n"));
    EXPECT_EQ(ini.ReadString("s", "k", "").size(), 2047u);
}

TEST(IniFile, IntegersAcceptDecimalNegativeAndLongHexOnly) {
    IniFile ini(TempPath("[n]\na=42\nb=-7\nc=0x1F\nd=0x\ne=12abc\nf=\ng=0XFFFFFFFF\nh=+3\n"));
    EXPECT_EQ(ini.ReadInteger("n", "a", 0), 42);
    EXPECT_EQ(ini.ReadInteger("n", "b", 0), -7);
    EXPECT_EQ(ini.ReadInteger("n", "c", 0), 31);
    EXPECT_EQ(ini.ReadInteger("n", "d", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "e", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "f", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "g", 0), -1);
    EXPECT_EQ(ini.ReadInteger("n", "h", 5), 5);
    EXPECT_TRUE(ini.ReadBool("n", "a", false));
    EXPECT_FALSE(ini.ReadBool("n", "missing", false));
}

TEST(IniFile, WritesKeepOrderAppendKeysToTheirSectionAndSectionsToTheEnd) {
    const std::string path = TempPath("; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    IniFile ini(path);
    ini.WriteString("a", "X", "10");
    ini.WriteString("A", "z", "3");
    ini.WriteInteger("C", "w", -4);
    ini.WriteBool("B", "flag", true);
    ini.UpdateFile();
    EXPECT_EQ(ReadText(path), "; keep me\n[A]\nx=10\nz=3\n\n[B]\ny=2\nflag=1\n[C]\nw=-4\n");
    IniFile again(path);
    EXPECT_EQ(again.ReadInteger("c", "W", 0), -4);
}

TEST(IniFile, AFileThatCannotBeWrittenRaisesAndKeepsItsText) {
    const testsupport::ScratchFolder dir;
    const std::string path = dir.WriteText("f.ini", "[s]\nk=v\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    IniFile ini(path);
    ini.WriteString("s", "k", "changed");
    EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
    EXPECT_EQ(ReadText(path), "[s]\nk=v\n");

    IniFile missingFolder("/nonexistent-folder-for-vellorine/x.ini");
    missingFolder.WriteString("s", "k", "v");
    try {
        missingFolder.UpdateFile();
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unable to write to /nonexistent-folder-for-vellorine/x.ini");
    }
}

} // namespace

namespace {

struct Write {
    const char* section;
    const char* key;
    const char* value;
};

TEST(IniFile, WritesLandWhereTheFirstMatchingSectionEndsAndTheRestIsKeptByteForByte) {
    const struct {
        const char* name;
        std::string before;
        std::vector<Write> writes;
        std::string after;
    } cases[] = {
        {"a repeated section: the first is used, the second left alone",
         "[S]\na=1\n[t]\nb=2\n[s]\na=9\n",
         {{"s", "a", "5"}, {"S", "new", "n"}},
         "[S]\na=5\nnew=n\n[t]\nb=2\n[s]\na=9\n"},
        {"blank lines after a section's last key stay after the new key",
         "[a]\nk=1\n\n\n[b]\n",
         {{"a", "x", "2"}, {"b", "y", "3"}},
         "[a]\nk=1\nx=2\n\n\n[b]\ny=3\n"},
        {"lines before the first section and a bracket inside a value are no sections",
         "top=1\n[a]\nt=Song [Live]\n  [ b ]  \nk=2\n",
         {{"a", "top", "x"}, {"b", "k", "3"}, {"live", "k", "4"}},
         "top=1\n[a]\nt=Song [Live]\ntop=x\n  [ b ]  \nk=3\n[live]\nk=4\n"},
        {"a key written twice, a new section written twice",
         "[a]\n;k=comment\nK = old \n",
         {{"A", "k", "1"}, {"a", "k", "2"}, {"n", "x", "1"}, {"N", "X", "2"}, {"n", "y", "3"}},
         "[a]\n;k=comment\nK=2\n[n]\nx=2\ny=3\n"},
        {"CR LF, a mark and no last line end",
         "\xEF\xBB\xBF[a]\r\nk=1\r\nz=\"q\"",
         {{"a", "k", "2"}},
         "[a]\nk=2\nz=\"q\"\n"},
        {"an empty file", "", {{"a", "k", "v"}}, "[a]\nk=v\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(c.before);
        IniFile ini(path);
        for (const Write& w : c.writes) {
            ini.WriteString(w.section, w.key, w.value);
            EXPECT_EQ(ini.ReadString(w.section, w.key, "?"), w.value) << w.section << "/" << w.key;
        }
        ini.UpdateFile();
        EXPECT_EQ(ReadText(path), c.after);
        // Read back, the file holds what the object read after its writes.
        IniFile again(path);
        for (const Write& w : c.writes) {
            EXPECT_EQ(again.ReadString(w.section, w.key, "?"),
                      ini.ReadString(w.section, w.key, "!"))
                << w.section << "/" << w.key;
        }
    }
}

// Names are matched as given against the names the lines give (trimmed), so a section
// written under a padded name is a new one, and a later write under the plain name still
// goes to the section the file had.
TEST(IniFile, ASectionMadeByAWriteNeverHidesTheFilesSectionOfTheSameName) {
    const std::string path = TempPath("[a]\nk=1\n");
    IniFile ini(path);
    ini.WriteString(" a", "x", "1");
    ini.WriteString("a", "y", "2");
    ini.WriteString("a", " k", "3"); // a padded key is a new one too
    EXPECT_EQ(ini.ReadString("A", "k", "?"), "1");
    EXPECT_EQ(ini.ReadString("a", "y", "?"), "2");
    ini.UpdateFile();
    EXPECT_EQ(ReadText(path), "[a]\nk=1\ny=2\n k=3\n[ a]\nx=1\n");
}

TEST(IniFile, OnlyAWriteOfAnotherValueCountsAsAChange) {
    const struct {
        Write write;
        bool changed;
    } cases[] = {
        {{"a", "k", "1"}, false},  // the value it has
        {{"A", "K", "1"}, false},  // in other letter case
        {{"a", "k", "2"}, true},   //
        {{"a", "new", "1"}, true}, // a new key
        {{"new", "k", "1"}, true}, // a new section
        {{"a", "q", "x"}, true},   // "x" is read from 'x', but the line changes
    };
    const std::string path = TempPath("[a]\nk=1\nq='x'\n");
    for (const auto& c : cases) {
        IniFile ini(path);
        EXPECT_FALSE(ini.Changed());
        ini.WriteString(c.write.section, c.write.key, c.write.value);
        EXPECT_EQ(ini.Changed(), c.changed) << c.write.section << "/" << c.write.key;
    }
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// New sections go onto the end of the file the object read, in place; a file that changed
// since, or whose text needed clean-up, is written whole from the object's text.
TEST(IniFile, NewSectionsAreAppendedInPlaceOnlyToTheFileAsItWasRead) {
    const struct {
        const char* name;
        std::string before;
        std::string replacedBy; // another writer's file put in its place after the read
        bool inPlace;
        std::string after;
    } cases[] = {
        {"unchanged", "[a]\nk=1\n", "", true, "[a]\nk=1\n[n]\nx=1\n"},
        {"replaced meanwhile", "[a]\nk=1\n", "[a]\nk=2\n", false, "[a]\nk=1\n[n]\nx=1\n"},
        {"CR LF", "[a]\r\nk=1\r\n", "", true, "[a]\r\nk=1\r\n[n]\nx=1\n"},
        {"no last line end", "[a]\nk=1", "", false, "[a]\nk=1\n[n]\nx=1\n"},
        {"a byte-order mark", "\xEF\xBB\xBF[a]\nk=1\n", "", true,
         "\xEF\xBB\xBF[a]\nk=1\n[n]\nx=1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(c.before);
        IniFile ini(path);
        if (!c.replacedBy.empty()) {
            const std::string other = TempPath(c.replacedBy);
            fs::rename(other, path);
        }
        const ino_t inode = InodeOf(path);
        ini.WriteString("n", "x", "1");
        ini.UpdateFile();
        EXPECT_EQ(ReadText(path), c.after);
        EXPECT_EQ(InodeOf(path) == inode, c.inPlace);
    }
}

TEST(IniFile, AnAppendThatDoesNotFitIsCutOffAndReported) {
    const std::string before = "[a]\nk=1\n";
    const std::string path = TempPath(before);
    IniFile ini(path);
    ini.WriteString("new section", "key", "a value longer than the room left");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = before.size() + 6; // room for a part of the new section only
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_THROW(ini.UpdateFile(), std::runtime_error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(ReadText(path), before);
}

// A file read again is listed again unless it is the same file with the same times as when
// it was listed. The waits let the file's times move past the coarse clock's tick, which
// is when a listing is kept at all.
TEST(IniFile, AFileReadAgainSeesEveryChangeMadeSinceItWasListed) {
    const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    const std::string path = TempPath("[a]\nk=1\n[b]\nk=2\n");
    settle();
    EXPECT_EQ(IniFile(path).ReadString("b", "k", "?"), "2"); // listed, and the listing kept
    EXPECT_EQ(IniFile(path).ReadString("b", "k", "?"), "2");

    {
        IniFile appender(path); // appends in place: the same file, longer
        appender.WriteString("c", "k", "3");
        appender.UpdateFile();
    }
    EXPECT_EQ(IniFile(path).ReadString("c", "k", "?"), "3");

    settle();
    EXPECT_EQ(IniFile(path).ReadString("b", "k", "?"), "2"); // listed again, and kept
    // Rewritten in place to the same length: "[b]" becomes a key of section a.
    {
        std::ofstream same(path, std::ios::binary | std::ios::in | std::ios::out);
        same.write("[a]\nk=1\nb=0\nk=2\n", 16);
    }
    const IniFile changed(path);
    EXPECT_EQ(changed.ReadString("a", "b", "?"), "0");
    EXPECT_EQ(changed.ReadString("b", "k", "?"), "?");
}

// Lookups go by a hash of the name: every section of a long file is found by its own name
// whatever its case, also when another name has the same hash, and a name the file lacks
// finds nothing.
TEST(IniFile, EverySectionOfALongFileIsFoundByItsNameAmongNamesOfTheSameHash) {
    std::string text;
    for (int i = 0; i < 4000; ++i) {
        text += "[" + std::to_string(i * 7919 - 9000) + "]\nArtist=a" + std::to_string(i) + "\n";
    }
    // These two names hash alike (32-bit FNV-1a of the text); the later one is padded.
    text += "[-2767781]\nk=first\n  [ -1226247 ]  \nk=second\n[Disc]\nk=upper\n";
    const std::string path = TempPath(text);
    const struct {
        std::string section;
        const char* key;
        std::string value;
    } cases[] = {
        {"-2767781", "k", "first"},
        {"-1226247", "k", "second"},
        {"disc", "K", "upper"},
        {"-9000", "artist", "a0"},
        {std::to_string(3999 * 7919 - 9000), "Artist", "a3999"},
        {std::to_string(2000 * 7919 - 9000), "Artist", "a2000"},
        {"-1226248", "k", "?"},
        {"-2767781", "Artist", "?"},
    };
    for (const bool ahead : {false, true}) {
        if (ahead) {
            IniFile::ListAhead(path);
        }
        const IniFile ini(path);
        for (const auto& c : cases) {
            EXPECT_EQ(ini.ReadString(c.section, c.key, "?"), c.value)
                << c.section << "/" << c.key << (ahead ? " listed ahead" : "");
        }
    }
}

// A file listed ahead reads as one its reader lists itself, and a change made after the
// listing is seen; files that are missing or have no line end are listed as well.
TEST(IniFile, AFileListedAheadReadsAsItIsOnDiskWhenItIsOpened) {
    const auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    const struct {
        const char* name;
        std::string text;    // empty: no file
        std::string rewrite; // in place after the listing, same length; empty: none
        const char* section;
        const char* before; // its key k before the rewrite
        const char* value;  // and after
    } cases[] = {
        {"as listed", "[a]\nk=1\n[b]\nk=2\n", "", "b", "2", "2"},
        {"changed after the listing", "[a]\nk=1\n[b]\nk=2\n", "[a]\nk=5\n[b]\nk=2\n", "a", "1",
         "5"},
        {"no last line end", "[a]\nk=1\n[b]\nk=4", "", "b", "4", "4"},
        {"no file", "", "", "a", "?", "?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.text.empty() ? TempPath("") + ".missing" : TempPath(c.text);
        settle(); // a listing is kept only for a file that was not just written
        IniFile::ListAhead(path);
        EXPECT_EQ(IniFile(path).ReadString(c.section, "k", "?"), c.before);
        if (!c.rewrite.empty()) {
            std::ofstream same(path, std::ios::binary | std::ios::in | std::ios::out);
            same.write(c.rewrite.data(), static_cast<std::streamsize>(c.rewrite.size()));
        }
        const IniFile opened(path);
        EXPECT_EQ(opened.ReadString(c.section, "k", "?"), c.value);
        IniFile::ListAhead(path); // again: nothing to wait for but the same answer
        EXPECT_EQ(IniFile(path).ReadString(c.section, "k", "?"), c.value);
    }
}

} // namespace
