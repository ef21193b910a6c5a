// Fuzzes the settings file reader, then writes the store back and reads it again.
#include <cstdint>
#include <string>

#include "FuzzTempFile.h"
#include "KeyValueStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzTempFile input(data, size);
    if (!input.ok()) {
        return 0;
    }
    KeyValueStore store(input.path());
    store.GetInt("LATEST_DOWNLOAD", 0);
    store.GetHex("SERIAL", 0);
    store.GetDouble("RATE", 1.0);
    store.GetBOOL("FLAG", false);
    store.GetString("LATEST_TRANSFER", nullptr);
    store.Add("LATEST_TRANSFER", "1234.bird");
    store.Save();
    KeyValueStore again(input.path());
    again.Add(store);
    return 0;
}
