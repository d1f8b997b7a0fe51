// Where the settings and the data files go: the portable case, the desktop's folders, and the
// fallbacks when a place cannot be used.
#include <gtest/gtest.h>

#include "app/file_places.h"
#include "tests/support/files.h"

namespace vantora {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(FilePlaces, SettingsFileIsPortableElseInTheConfigFolder) {
    TempDir t("places");
    const std::string bin = t.Path("bin");
    test::fs::create_directories(bin);
    const std::string home = t.Path("home");
    struct Case {
        const char* what;
        bool portableExists;
        std::string configHome;
        std::string expected;
    } cases[] = {
        {"a file beside the executable wins", true, t.Path("cfg"), bin + "/vantora.INI"},
        {"XDG_CONFIG_HOME when set", false, t.Path("cfg"), t.Path("cfg") + "/vantora/vantora.INI"},
        {"~/.config when unset", false, "", home + "/.config/vantora/vantora.INI"},
        {"a relative XDG_CONFIG_HOME is ignored", false, "rel", home + "/.config/vantora/vantora.INI"},
    };
    for (const Case& c : cases) {
        std::remove((bin + "/vantora.INI").c_str());
        if (c.portableExists) WriteFile(bin + "/vantora.INI", "[Setup]\n");
        PlaceEnvironment env{home, c.configHome, "", t.Path("work")};
        EXPECT_EQ(ChooseSettingsPath(bin + "/vantora", env), c.expected) << c.what;
    }
    // Choosing creates nothing; the first write creates the folders.
    EXPECT_FALSE(test::fs::exists(home + "/.config"));
    std::string error;
    ASSERT_TRUE(PrepareFolderOf(home + "/.config/vantora/vantora.INI", error)) << error;
    EXPECT_TRUE(test::fs::is_directory(home + "/.config/vantora"));
}

TEST(FilePlaces, DataFolderIsTheWorkingFolderWhenWritable) {
    TempDir t("places");
    const std::string work = t.Path("work");
    test::fs::create_directories(work);
    PlaceEnvironment env{t.Path("home"), "", t.Path("data"), work};
    std::string error;
    EXPECT_EQ(ChooseDataFolder(env, error), work);
    // A folder that is gone cannot be written, whoever runs the test.
    env.WorkingFolder = t.Path("gone");
    EXPECT_EQ(ChooseDataFolder(env, error), t.Path("data") + "/vantora");
    EXPECT_TRUE(test::fs::is_directory(t.Path("data") + "/vantora"));
    env.DataHome.clear();
    EXPECT_EQ(ChooseDataFolder(env, error), t.Path("home") + "/.local/share/vantora");
    env.Home.clear();
    EXPECT_EQ(ChooseDataFolder(env, error), "");
    EXPECT_NE(error.find(t.Path("gone")), std::string::npos) << error;
}

}  // namespace
}  // namespace vantora
