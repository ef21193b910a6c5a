// The device library's own trace lines. They go to standard output, and only when the switch is
// on and the message's bit is in the level mask; the application never turns them on.
#pragma once

#include "ZendrivalExport.h"

#include <cstdint>

extern ZENDRIVAL_EXPORT volatile uint8_t qZendrivalDebuggingEnable;
extern ZENDRIVAL_EXPORT volatile uint32_t qZendrivalDebuggingLevel;

// Bits of qZendrivalDebuggingLevel.
constexpr uint32_t qDEBUG_LINK = 0x1;        // link lifecycle, sync, object-layer connect and UEI
constexpr uint32_t qDEBUG_TRAFFIC = 0x2;     // heartbeats, per-packet reader and writer traffic
constexpr uint32_t qDEBUG_SERVER = 0x4;      // link server
constexpr uint32_t qDEBUG_MULTICAST = 0x8;   // multicast sockets
constexpr uint32_t qDEBUG_DISCOVERY = 0x10;  // discovery and network interfaces
constexpr uint32_t qDEBUG_CLIENT = 0x20;     // network client stream
constexpr uint32_t qDEBUG_NETWORK = 0x40;    // module network connection
constexpr uint32_t qDEBUG_BEACON = 0x200;    // beacon interface
constexpr uint32_t qDEBUG_USB = 0x400;       // USB transport

ZENDRIVAL_EXPORT bool qDebug_IsOn(uint32_t bit);
// printf-style; prints and flushes standard output only when qDebug_IsOn(bit).
ZENDRIVAL_EXPORT void qDebug_Print(uint32_t bit, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
