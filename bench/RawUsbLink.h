// A simulated module on the emulated USB bus, talked to with plain libusb calls: what a program of
// its own would do to reach the module, and so the ideal that the library's USB path is measured
// against. Its own libusb context, the module's vendor interface claimed, synchronous bulk
// transfers both ways.
#pragma once

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchSupport.h"

namespace bench {

class RawUsbLink : public RawPackets<RawUsbLink> {
  public:
    explicit RawUsbLink(uint32_t serial) {
        if (libusb_init(&context_) != LIBUSB_SUCCESS) {
            context_ = nullptr;
            return;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%08X", serial);
        libusb_device** list = nullptr;
        ssize_t count = libusb_get_device_list(context_, &list);
        for (ssize_t i = 0; i < count && handle_ == nullptr; ++i) {
            openIfModule(list[i], text);
        }
        if (count >= 0) {
            libusb_free_device_list(list, 1);
        }
    }
    ~RawUsbLink() {
        if (handle_ != nullptr) {
            libusb_release_interface(handle_, kInterface);
            libusb_close(handle_);
        }
        if (context_ != nullptr) {
            libusb_exit(context_);
        }
    }
    RawUsbLink(const RawUsbLink&) = delete;
    RawUsbLink& operator=(const RawUsbLink&) = delete;

    bool ok() const { return handle_ != nullptr; }

    // Cut as the module expects: at most one packet a transfer, and never a full 512-byte one,
    // which would leave the transfer open until a zero-length packet.
    bool send(const std::vector<uint8_t>& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            size_t piece = std::min<size_t>(bytes.size() - sent, outMaxPacket_);
            piece = piece == 512 ? 511 : piece;
            int done = 0;
            if (libusb_bulk_transfer(handle_, outEndpoint_, const_cast<uint8_t*>(&bytes[sent]),
                                     static_cast<int>(piece), &done,
                                     kTimeoutMs) != LIBUSB_SUCCESS ||
                done <= 0) {
                return false;
            }
            sent += static_cast<size_t>(done);
        }
        return true;
    }
    // Exactly size bytes, from what the last IN transfer brought and then from new ones.
    bool read(uint8_t* buffer, size_t size) {
        for (size_t done = 0; done < size;) {
            if (position_ == received_.size() && !refill()) {
                return false;
            }
            size_t n = std::min(size - done, received_.size() - position_);
            std::memcpy(buffer + done, &received_[position_], n);
            position_ += n;
            done += n;
        }
        return true;
    }

  private:
    static constexpr uint8_t kInterface = 0;
    static constexpr unsigned kTimeoutMs = 2000;

    // The module's vendor interface is its first; its endpoints are the two bulk ones.
    void openIfModule(libusb_device* device, const char* serialText) {
        libusb_device_descriptor descriptor;
        libusb_device_handle* handle = nullptr;
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
            descriptor.iSerialNumber == 0 || libusb_open(device, &handle) != LIBUSB_SUCCESS) {
            return;
        }
        unsigned char text[64] = {};
        int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text,
                                                        sizeof text - 1);
        if (length <= 0 || std::strcmp(reinterpret_cast<char*>(text), serialText) != 0 ||
            !findEndpoints(device) || libusb_claim_interface(handle, kInterface) != 0) {
            libusb_close(handle);
            return;
        }
        handle_ = handle;
    }

    bool findEndpoints(libusb_device* device) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
            return false;
        }
        const libusb_interface_descriptor& setting = config->interface[kInterface].altsetting[0];
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) {
                inEndpoint_ = endpoint.bEndpointAddress;
            } else {
                outEndpoint_ = endpoint.bEndpointAddress;
                outMaxPacket_ = endpoint.wMaxPacketSize != 0 ? endpoint.wMaxPacketSize : 64;
            }
        }
        libusb_free_config_descriptor(config);
        return inEndpoint_ != 0 && outEndpoint_ != 0;
    }

    bool refill() {
        received_.resize(1024);
        int got = 0;
        int rc = libusb_bulk_transfer(handle_, inEndpoint_, received_.data(),
                                      static_cast<int>(received_.size()), &got, kTimeoutMs);
        received_.resize(rc == LIBUSB_SUCCESS && got > 0 ? static_cast<size_t>(got) : 0);
        position_ = 0;
        return !received_.empty();
    }

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    uint8_t inEndpoint_ = 0;
    uint8_t outEndpoint_ = 0;
    size_t outMaxPacket_ = 64;
    std::vector<uint8_t> received_;
    size_t position_ = 0;
};

}  // namespace bench
