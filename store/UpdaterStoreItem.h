// One entry of the updater store: a device directory or a file in one, with the settings of the
// directory it names.
#pragma once

#include <string>

#include "BirdFile.h"
#include "KeyValueStore.h"

typedef enum {
    STORE_ITEM_FILE = 0,
    STORE_ITEM_DIRECTORY = 1,
    STORE_ITEM_NOT_SET = 2,
} store_item_t;

class UpdaterStoreItem {
  public:
    UpdaterStoreItem() = default;
    // Keeps the three and loads parent/name/.settings (created when absent). Plain files have no
    // settings of their own, so a file item loads none.
    UpdaterStoreItem(const char* parent, const char* name, store_item_t kind);
    // The same without creating the settings file when it is absent (a dry run writes nothing).
    UpdaterStoreItem(const char* parent, const char* name, store_item_t kind, bool readOnly);

    bool IsValid() const { return !parent_.empty() && !name_.empty(); }
    const std::string& ParentPath() const { return parent_; }
    const std::string& Name() const { return name_; }
    store_item_t Kind() const { return kind_; }
    std::string FullPath() const;
    KeyValueStore& Settings() { return settings_; }
    const KeyValueStore& Settings() const { return settings_; }

    // parent/name/fileName; throws std::runtime_error("Invalid bird " + path) when its header is
    // wrong, or "Failed to load bird data" when its body is.
    BirdFile ReadBirdFile(const char* fileName);
    // Writes parent/name/fileName whole or not at all. Null bytes, a name that is not a plain file
    // name, or a file that cannot be created give qErrNotFound; else the result of the write.
    int WriteFile(const char* fileName, const unsigned char* bytes, unsigned long length);

  private:
    std::string parent_;
    std::string name_;
    store_item_t kind_ = STORE_ITEM_NOT_SET;
    KeyValueStore settings_;
};
