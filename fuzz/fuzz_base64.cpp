// Fuzzes the base64 coding of BIRD files sent by the update server: the bytes are decoded as a
// reply line would be, and encoded and decoded again, which must give them back.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Base64.h"
#include "FuzzSupport.h"

namespace {

// Every four characters give at most three bytes, and the result is NUL-terminated.
void decodeAsReceived(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    size_t length = 0;
    unsigned char* decoded = base64_decode(text, size, &length);
    if (decoded == nullptr) {
        return;
    }
    check(length <= size / 4 * 3 && decoded[length] == '\0');
    // Text that decodes names one byte string: its canonical form decodes to the same bytes.
    size_t encodedLength = 0;
    char* encoded = base64_encode(decoded, length, &encodedLength);
    check(encoded != nullptr && encodedLength <= size);
    size_t againLength = 0;
    unsigned char* again = base64_decode(encoded, encodedLength, &againLength);
    check(again != nullptr && againLength == length && memcmp(again, decoded, length) == 0);
    free(again);
    free(encoded);
    free(decoded);
}

void roundTrip(const uint8_t* data, size_t size) {
    size_t encodedLength = 0;
    char* encoded = base64_encode(data, size, &encodedLength);
    check(encoded != nullptr && encodedLength == (size + 2) / 3 * 4 &&
          strlen(encoded) == encodedLength);
    size_t decodedLength = 0;
    unsigned char* decoded = base64_decode(encoded, encodedLength, &decodedLength);
    check(decoded != nullptr && decodedLength == size &&
          (size == 0 || memcmp(decoded, data, size) == 0));
    free(decoded);
    free(encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decodeAsReceived(data, size);
    roundTrip(data, size);
    return 0;
}
