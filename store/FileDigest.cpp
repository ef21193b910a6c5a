#include "FileDigest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <fstream>
#include <memory>

std::string FileDigest_Sha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "";
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return "";
    }
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        if (EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(in.gcount())) != 1) {
            return "";
        }
    }
    if (in.bad()) {
        return "";
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        return "";
    }
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02x", digest[i]);
        text += hex;
    }
    return text;
}
