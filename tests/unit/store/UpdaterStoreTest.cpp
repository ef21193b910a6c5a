#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "StoreTestSupport.h"
#include "UpdaterStore.h"
#include "qDirectory.h"

using storetest::LogCapture;
using zvtest::pathExists;
using zvtest::readFile;
using zvtest::TempDir;
using zvtest::writeFile;

namespace {

class UpdaterStoreTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string root = dir.file("store/updater");
};

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

TEST_F(UpdaterStoreTest, RootIsCreatedOrReusedAndAFileInItsPlaceRefused) {
    {
        LogCapture log(DEBUG_Updater);
        UpdaterStore store(root.c_str());
        EXPECT_EQ(log.text(), "UpdaterStore: Created directory [" + root + "].\n");
        EXPECT_TRUE(qDirectory_Exists(root.c_str()));
        EXPECT_EQ(store.BasePath(), root);
    }
    {
        LogCapture log(DEBUG_Updater);
        UpdaterStore again(root.c_str());
        EXPECT_EQ(log.text(), "UpdaterStore: [" + root + "] already exists.\n");
    }
    std::string file = dir.file("plain");
    writeFile(file, "x");
    EXPECT_EQ(errorOf([&] { UpdaterStore s(file.c_str()); }),
              "UpdaterStore: " + file + " exists and is a file");
    std::string under = file + "/updater";
    EXPECT_EQ(errorOf([&] { UpdaterStore s(under.c_str()); }),
              "UpdaterStore: Could not create directory " + under + " error 12");
}

TEST_F(UpdaterStoreTest, AddDeviceMakesItsDirectoryAndSettings) {
    UpdaterStore store(root.c_str());
    UpdaterStoreItem item = store.AddDevice(0x1A2B);
    EXPECT_TRUE(item.IsValid());
    EXPECT_EQ(item.Name(), "00001A2B");
    EXPECT_EQ(item.ParentPath(), root);
    EXPECT_EQ(item.Kind(), STORE_ITEM_DIRECTORY);
    std::string settings = readFile(root + "/00001A2B/.settings");
    EXPECT_EQ(settings.rfind("CREATED_TIME=", 0), 0u);
    EXPECT_NE(settings.find("\nUPDATED_TIME="), std::string::npos);
    EXPECT_NE(item.Settings()["CREATED_TIME"], nullptr);

    writeFile(root + "/0000FFFF", "not a directory");
    EXPECT_EQ(errorOf([&] { store.AddDevice(0xFFFF); }),
              "UpdaterStore: " + root + "/0000FFFF exists and is a file");
    EXPECT_FALSE(UpdaterStoreItem().IsValid());
    EXPECT_EQ(UpdaterStoreItem().Kind(), STORE_ITEM_NOT_SET);
}

TEST_F(UpdaterStoreTest, FindDeviceMatchesPartOfTheEntryNameAndLoadsItsSettings) {
    UpdaterStore store(root.c_str());
    store.AddDevice(0x1A2B).Settings();
    UpdaterStoreItem item;
    {
        LogCapture log(DEBUG_Updater);
        EXPECT_TRUE(store.FindDevice("1A2B", &item));
        EXPECT_NE(log.text().find("_find_item([" + root + "/00001A2B], 1, "), std::string::npos);
        EXPECT_NE(log.text().find("UpdaterStore: FindDevice Found 1A2B.\n"), std::string::npos);
    }
    EXPECT_EQ(item.Name(), "00001A2B");
    EXPECT_EQ(item.Kind(), STORE_ITEM_DIRECTORY);
    EXPECT_NE(item.Settings()["CREATED_TIME"], nullptr);
    EXPECT_TRUE(store.FindDevice(0x1A2B, nullptr));
    LogCapture log(DEBUG_Updater);
    EXPECT_FALSE(store.FindDevice(0x1A2C, &item));
    EXPECT_NE(log.text().find("UpdaterStore: FindDevice Not Found 00001A2C.\n"), std::string::npos);
}

TEST_F(UpdaterStoreTest, RootPathHoldingTheSerialTextMatchesNothing) {
    // Deliberate: a device matches by its entry's own name, never by text in the store's path.
    std::string tricky = dir.file("00001A2B-home/updater");
    UpdaterStore store(tricky.c_str());
    store.AddDevice(0x00000001);
    EXPECT_FALSE(store.FindDevice(0x1A2B, nullptr));
    EXPECT_FALSE(store.FindDevice("updater", nullptr));
    std::vector<UpdaterStoreItem> items;
    EXPECT_TRUE(store.FindLocalBuilds(0x1A2B, items));
    EXPECT_TRUE(items.empty());
}

TEST_F(UpdaterStoreTest, LocalBuildsAreEveryEntryNotBeginningWithADot) {
    UpdaterStore store(root.c_str());
    std::string device = store.AddDevice(0x42).FullPath();
    writeFile(device + "/100.bird", "a");
    writeFile(device + "/101.bird", "b");
    writeFile(device + "/.hidden", "c");
    std::filesystem::create_directory(device + "/extra");
    std::vector<UpdaterStoreItem> items;
    {
        LogCapture log(DEBUG_Updater);
        EXPECT_TRUE(store.FindLocalBuilds(0x42, items));
        EXPECT_NE(log.text().find("_find_items([" + device + "/100.bird], 0, 1)\n"),
                  std::string::npos);
    }
    std::vector<std::string> names;
    for (const auto& item : items) {
        names.push_back(item.Name());
        EXPECT_EQ(item.ParentPath(), device);
        EXPECT_EQ(item.Kind(), item.Name() == "extra" ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"100.bird", "101.bird", "extra"}));
    EXPECT_TRUE(pathExists(device + "/extra/.settings"));
    EXPECT_FALSE(pathExists(device + "/100.bird/.settings"));
}

TEST_F(UpdaterStoreTest, ReadBirdFileChecksTheHeaderThenTheBody) {
    UpdaterStore store(root.c_str());
    UpdaterStoreItem device = store.AddDevice(0x42);
    BirdWriter writer;
    writer.AddInfo("100", "1.0", "00000042", "HUB");
    storetest::writeBird(device.FullPath() + "/100.bird", writer);
    BirdFile file = device.ReadBirdFile("100.bird");
    EXPECT_EQ(file.GetBuild(), 100u);

    writeFile(device.FullPath() + "/bad.bird", "BIRD\x01\x01....");
    EXPECT_EQ(errorOf([&] { device.ReadBirdFile("bad.bird"); }),
              "Invalid bird " + device.FullPath() + "/bad.bird");
    EXPECT_EQ(errorOf([&] { device.ReadBirdFile("none.bird"); }),
              "Invalid bird " + device.FullPath() + "/none.bird");
    writeFile(device.FullPath() + "/body.bird", "bird\x01\x01....");
    EXPECT_EQ(errorOf([&] { device.ReadBirdFile("body.bird"); }), "Failed to load bird data");
}

TEST_F(UpdaterStoreTest, WriteFileReplacesWholeOrWritesNothing) {
    UpdaterStore store(root.c_str());
    UpdaterStoreItem device = store.AddDevice(0x42);
    std::string target = device.FullPath() + "/7.bird";
    const unsigned char bytes[] = {'b', 'i', 'r', 'd', 0, 1};
    EXPECT_EQ(device.WriteFile("7.bird", nullptr, 6), 3);
    EXPECT_FALSE(pathExists(target));
    EXPECT_EQ(device.WriteFile("7.bird", bytes, sizeof bytes), 0);
    EXPECT_EQ(readFile(target), std::string("bird\0\1", 6));
    EXPECT_EQ(device.WriteFile("7.bird", bytes, 2), 0);
    EXPECT_EQ(readFile(target), "bi");
    // Deliberate: a name that leaves the device's directory is refused and nothing is written.
    EXPECT_EQ(device.WriteFile("../escape.bird", bytes, 2), 3);
    EXPECT_FALSE(pathExists(root + "/escape.bird"));

    UpdaterStoreItem gone(dir.file("missing").c_str(), "00000042", STORE_ITEM_FILE);
    EXPECT_EQ(gone.WriteFile("7.bird", bytes, 2), 3);

    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(device.FullPath())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".settings", "7.bird"}));
}

}  // namespace
