// Settings files that are not plain, writable, single-named files: each is read without hanging
// and saved without replacing what its owner made of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/ini_file.h"
#include "tests/support/files.h"

namespace vantora {
namespace {

using test::Slurp;
using test::TempDir;
using test::WriteFile;
namespace fs = test::fs;

TEST(IniFileHostile, OddFilesAreReadSafely) {
    TempDir t("ini");
    ASSERT_EQ(::mkfifo(t.Path("fifo.INI").c_str(), 0600), 0);
    fs::create_directory(t.Path("dir.INI"));
    WriteFile(t.Path("bom.INI"), "\xEF\xBB\xBF[Setup]\nPortid=3\n");
    struct Case {
        std::string file;
        bool complete;
        bool problem;
    } cases[] = {
        {"fifo.INI", false, true},  // would hang in open() for a writer
        {"dir.INI", false, true},
        {"bom.INI", true, false},
        {"missing.INI", true, false},
    };
    for (const Case& c : cases) {
        const IniFile ini = IniFile::Load(t.Path(c.file));
        EXPECT_EQ(ini.Complete(), c.complete) << c.file;
        EXPECT_EQ(!ini.Problem().empty(), c.problem) << c.file << ": " << ini.Problem();
    }
    // The byte-order mark does not hide the first section, and a save adds no second one.
    IniFile bom = IniFile::Load(t.Path("bom.INI"));
    EXPECT_EQ(bom.ReadInteger("Setup", "Portid", 0), 3);
    ASSERT_TRUE(bom.WriteString("Setup", "Portid", "4"));
    EXPECT_EQ(bom.Text(), "\xEF\xBB\xBF[Setup]\nPortid=4\n");
}

TEST(IniFileHostile, SavingKeepsLinksOwnersAndReadOnlyFiles) {
    TempDir t("ini");
    const std::string before = "[Setup]\nPortid=1\n";
    IniFile changed(before);
    ASSERT_TRUE(changed.WriteString("Setup", "Portid", "2"));
    const std::string after = changed.Text();
    std::string error;

    // A link to a file: the file changes, the link stays a link.
    WriteFile(t.Path("real.INI"), before);
    fs::create_symlink("real.INI", t.Path("link.INI"));
    ASSERT_TRUE(changed.Save(t.Path("link.INI"), error)) << error;
    EXPECT_TRUE(fs::is_symlink(t.Path("link.INI")));
    EXPECT_EQ(Slurp(t.Path("real.INI")), after);

    // A dangling link: its target is created.
    fs::create_symlink("made.INI", t.Path("dangling.INI"));
    ASSERT_TRUE(changed.Save(t.Path("dangling.INI"), error)) << error;
    EXPECT_TRUE(fs::is_symlink(t.Path("dangling.INI")));
    EXPECT_EQ(Slurp(t.Path("made.INI")), after);

    // A hard link: both names still name one file, with the new text.
    WriteFile(t.Path("one.INI"), before);
    fs::create_hard_link(t.Path("one.INI"), t.Path("two.INI"));
    ASSERT_TRUE(changed.Save(t.Path("one.INI"), error)) << error;
    EXPECT_EQ(fs::hard_link_count(t.Path("one.INI")), 2u);
    EXPECT_EQ(Slurp(t.Path("two.INI")), after);

    // A read-only file is left as it is, with a message that says so.
    WriteFile(t.Path("ro.INI"), before);
    ::chmod(t.Path("ro.INI").c_str(), 0444);
    error.clear();
    EXPECT_FALSE(changed.Save(t.Path("ro.INI"), error));
    EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    EXPECT_EQ(Slurp(t.Path("ro.INI")), before);
    struct stat st {};
    ASSERT_EQ(::stat(t.Path("ro.INI").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
}

}  // namespace
}  // namespace vantora
