#include "UpdaterStoreItem.h"

#include <cstring>
#include <stdexcept>

#include "AtomicFileWriter.h"
#include "BuildPath.h"

namespace {

// A name inside the item's directory: no separator, no way up.
bool isPlainFileName(const char* name) {
    return name != nullptr && name[0] != '\0' && strchr(name, '/') == nullptr &&
           strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

}  // namespace

UpdaterStoreItem::UpdaterStoreItem(const char* parent, const char* name, store_item_t kind)
    : UpdaterStoreItem(parent, name, kind, false) {}

UpdaterStoreItem::UpdaterStoreItem(const char* parent, const char* name, store_item_t kind,
                                   bool readOnly)
    : parent_(parent == nullptr ? "" : parent), name_(name == nullptr ? "" : name), kind_(kind) {
    if (kind_ != STORE_ITEM_FILE && IsValid()) {
        std::string settings =
            BuildPath(parent_.c_str(), name_.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr);
        if (readOnly) {
            settings_.LoadIfPresent(settings.c_str());
        } else {
            settings_.Load(settings.c_str());
        }
    }
}

std::string UpdaterStoreItem::FullPath() const {
    return BuildPath(parent_.c_str(), name_.c_str(), nullptr);
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) {
    std::string full =
        BuildPath(parent_.c_str(), name_.c_str(), fileName == nullptr ? "" : fileName, nullptr);
    if (!BirdFile::VerifyFile(full.c_str())) {
        throw std::runtime_error("Invalid bird " + full);
    }
    return BirdFile(full.c_str());
}

int UpdaterStoreItem::WriteFile(const char* fileName, const unsigned char* bytes,
                                unsigned long length) {
    if (bytes == nullptr || !isPlainFileName(fileName)) {
        return qErrNotFound;
    }
    AtomicFileWriter writer(BuildPath(parent_.c_str(), name_.c_str(), fileName, nullptr));
    if (!writer.Open()) {
        return qErrNotFound;
    }
    qErr err = writer.Write(bytes, length);
    if (err != qErrNone) {
        return err;
    }
    return writer.Commit();
}
