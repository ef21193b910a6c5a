// Store slots (command 4): numbered byte containers in numbered stores, opened for reading or
// writing, moved in chunks with an 8-bit sum per written chunk, then closed.
#pragma once

#include <cstdint>
#include <vector>

#include "Outcome.h"

namespace modulesim {

class StoreSlots {
  public:
    StoreSlots();
    void handle(const Packet& request, uint8_t address, Outcome& outcome);
    // Open handles do not survive the host or a restart; unfinished writes are discarded.
    void closeAll();

  private:
    struct Slot {
        uint16_t capacity;
        std::vector<uint8_t> bytes;
    };
    struct Handle {
        bool open = false;
        bool writing = false;
        uint8_t store = 0;
        uint8_t slot = 0;
        size_t position = 0;           // next byte to read
        std::vector<uint8_t> pending;  // written so far, stored on close
    };

    Slot* findSlot(uint8_t store, uint8_t slot);
    Handle* findHandle(uint8_t handle);
    void slotQuery(const Packet& request, uint8_t address, Outcome& outcome);
    void open(const Packet& request, uint8_t address, Outcome& outcome);
    void read(const Packet& request, uint8_t address, Outcome& outcome);
    void write(const Packet& request, uint8_t address, Outcome& outcome);
    void close(const Packet& request, uint8_t address, Outcome& outcome);

    std::vector<std::vector<Slot>> stores_;
    std::vector<Handle> handles_;  // handle number = position + 1
};

}  // namespace modulesim
