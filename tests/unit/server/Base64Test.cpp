#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Base64.h"

namespace {

struct FreeDeleter {
    void operator()(void* buffer) const { free(buffer); }
};

// Decodes from a buffer holding exactly the text (no terminator), so that any read past its end
// shows up under the address sanitizer. Returns false when decoding is refused.
bool decode(const std::string& text, std::string* bytes) {
    std::vector<char> exact(text.begin(), text.end());
    size_t length = 12345;
    std::unique_ptr<unsigned char, FreeDeleter> decoded(
        base64_decode(exact.data(), exact.size(), &length));
    if (!decoded) {
        return false;
    }
    EXPECT_EQ(decoded.get()[length], '\0') << "not NUL-terminated";
    bytes->assign(reinterpret_cast<const char*>(decoded.get()), length);
    return true;
}

std::string encode(const std::string& bytes) {
    std::vector<unsigned char> exact(bytes.begin(), bytes.end());
    size_t length = 12345;
    std::unique_ptr<char, FreeDeleter> text(base64_encode(exact.data(), exact.size(), &length));
    EXPECT_TRUE(text);
    if (!text) {
        return "<null>";
    }
    EXPECT_EQ(strlen(text.get()), length);
    return std::string(text.get(), length);
}

struct Vector {
    const char* bytes;
    const char* text;
};

// The test vectors of RFC 4648, section 10.
const Vector kRfcVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

}  // namespace

TEST(Base64, EncodesTheRfcVectors) {
    for (const Vector& vector : kRfcVectors) {
        EXPECT_EQ(encode(vector.bytes), vector.text) << vector.bytes;
    }
}

TEST(Base64, DecodesTheRfcVectors) {
    for (const Vector& vector : kRfcVectors) {
        std::string bytes = "stale";
        ASSERT_TRUE(decode(vector.text, &bytes)) << vector.text;
        EXPECT_EQ(bytes, vector.bytes);
    }
}

TEST(Base64, RoundTripsEveryByteValueAndTheUpperAlphabet) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes += static_cast<char>(i);
    }
    bytes += "\xFB\xFF\xBF";
    std::string text = encode(bytes);
    EXPECT_NE(text.find('+'), std::string::npos);
    EXPECT_NE(text.find('/'), std::string::npos);
    std::string back;
    ASSERT_TRUE(decode(text, &back));
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(encode("\xFB\xFF"), "+/8=");
}

TEST(Base64, IgnoresTrailingLineEndsAndBlanks) {
    std::string bytes;
    ASSERT_TRUE(decode("Zm9vYmFy\r", &bytes));
    EXPECT_EQ(bytes, "foobar");
    ASSERT_TRUE(decode("Zm8=\r\n", &bytes));
    EXPECT_EQ(bytes, "fo");
    ASSERT_TRUE(decode("Zg== \t\n", &bytes));
    EXPECT_EQ(bytes, "f");
    ASSERT_TRUE(decode("\r\n", &bytes));
    EXPECT_EQ(bytes, "");
}

TEST(Base64, RefusesLengthsThatAreNotAMultipleOfFour) {
    std::string bytes;
    for (const char* text : {"Z", "Zg", "Zg=", "Zm9vY", "Zm9vYmFy=", "Zm9v\rYg=="}) {
        EXPECT_FALSE(decode(text, &bytes)) << text;
    }
}

TEST(Base64, RefusesCharactersOutsideTheAlphabet) {
    std::string bytes;
    for (const char* text : {"Zm9 YmFy", "Zm9-", "Zm9_", "Zm\r\nYmFy", "Zm9\x80", "Zm.v"}) {
        EXPECT_FALSE(decode(text, &bytes)) << text;
    }
    EXPECT_FALSE(decode(std::string("Zm\0v", 4), &bytes));
}

TEST(Base64, RefusesMisplacedPadding) {
    std::string bytes;
    for (const char* text : {"====", "Z===", "=m9v", "Zm=v", "Zg==Zm9v", "Zm8=Zm9v", "Z=g="}) {
        EXPECT_FALSE(decode(text, &bytes)) << text;
    }
}

TEST(Base64, HandlesNullInput) {
    size_t length = 7;
    EXPECT_EQ(base64_decode(nullptr, 4, &length), nullptr);
    EXPECT_EQ(base64_encode(nullptr, 3, &length), nullptr);
    EXPECT_EQ(length, 7u);
}
