// The settings model saved to and loaded from a real QSettings file.
#include "QtSettingsStore.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

TEST(QtSettingsStore, ValuesKeepTheirKinds) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.File("settings.ini"));
    {
        CQtSettingsStore store(path);
        store.SetInt("RecordMaxFileSizeMB", 4000000000u);
        store.SetText("RecordFileFolder", "/home/user/Documents/Ambrio µ");
        store.SetBytes("ColumnInfo3", {0, 1, 2, 0xFF, 0x00, 0x7F});
        ASSERT_TRUE(store.Sync());
    }
    CQtSettingsStore store(path);
    uint32_t n = 0;
    std::string text;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(store.GetInt("RecordMaxFileSizeMB", n));
    EXPECT_EQ(n, 4000000000u);
    ASSERT_TRUE(store.GetText("RecordFileFolder", text));
    EXPECT_EQ(text, "/home/user/Documents/Ambrio µ");
    ASSERT_TRUE(store.GetBytes("ColumnInfo3", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 1, 2, 0xFF, 0x00, 0x7F}));
    // Absent keys and values of another kind are not taken.
    EXPECT_FALSE(store.GetInt("Missing", n));
    EXPECT_FALSE(store.GetBytes("RecordFileFolder", bytes));
    EXPECT_FALSE(store.GetInt("ColumnInfo3", n));
}

TEST(QtSettingsStore, SettingsModelRoundTrip) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.File("settings.ini"));
    const auto documents = [&] { return dir.Path().string(); };
    CSettings saved(documents);
    {
        CQtSettingsStore store(path);
        saved.Load(store);
        saved.recordMaxFileSizeMB = 123;
        saved.vbusCurrDirReverse = true;
        saved.window.width = 1600;
        saved.Save(store);
        ASSERT_TRUE(store.Sync());
    }
    CQtSettingsStore store(path);
    CSettings loaded(documents);
    loaded.Load(store);
    EXPECT_EQ(loaded.recordMaxFileSizeMB, 123u);
    EXPECT_TRUE(loaded.vbusCurrDirReverse);
    EXPECT_EQ(loaded.window.width, 1600);
}
