// The host side of the module's upgrade command (cmdUPGRADE, 95): start the module's upgrade
// loader, send loader and firmware blocks of a BIRD file in small pieces checked against the
// module's running byte sum, have each firmware piece written to flash, and reboot the module.
#pragma once

#include <cstdint>

#include "Entity.h"
#include "UpdaterDisplayInterface.h"
#include "qError.h"

namespace Pelmorax {
namespace Zendrival {
class Module;
}
}  // namespace Pelmorax

class UpdaterEntity : public Pelmorax::Zendrival::EntityClass {
  public:
    static constexpr uint8_t cmdUPGRADE = 95;
    enum SubCommand : uint8_t {
        val_UPGRADE_INIT = 0,
        val_UPGRADE_DATA = 1,
        val_UPGRADE_LOAD = 2,
        val_UPGRADE_PREPARE = 3,
        val_UPGRADE_SUM = 4,
        val_UPGRADE_WRITE = 5,
        val_UPGRADE_REBOOT = 6,
        val_UPGRADE_STATUS = 7,
    };
    static constexpr uint8_t val_UPGRADE_DATA_UEI = 10;  // a UEI option, not a sub-command
    static constexpr uint8_t DATA_PIECE_MAX = 26;        // what fits a packet after 95 and 1
    static constexpr uint32_t DEFAULT_SERIAL_NUMBER = 0xDEADDEAD;
    // A module that keeps refusing the same piece is not asked again past this many times.
    static constexpr unsigned MAX_DATA_RESENDS = 10;
    // How long LoaderReboot waits at most for a module that never drops its link. The wait only
    // gives the module time to act on REBOOT before it is looked for again; whether it runs the
    // new firmware is decided by finding it and asking it, not by the link dropping.
    static constexpr unsigned REBOOT_WAIT_LIMIT_MS = 5000;

    UpdaterEntity();

    void init(Pelmorax::Zendrival::Module* module, uint8_t index, bool validate, bool quickReboot);

    qErr LoaderInit();
    qErr TransferPrepare(const uint8_t* blockData, uint32_t blockLength, uint8_t flags,
                         uint16_t& blockSize);
    // PREPARE for a loader block. The module's loader takes a loader block whole and uses no
    // block size for it, so a reply of status 0 without one is enough here.
    qErr LoaderPrepare(const uint8_t* blockData, uint32_t blockLength, uint8_t flags);
    qErr LoaderTransfer(const uint8_t* blockData, uint32_t blockLength);
    qErr FirmwareTransfer(const uint8_t* blockData, uint32_t blockLength, uint16_t blockSize,
                          UpdaterDisplayInterface& display);
    qErr FirmwareWrite(uint32_t length);
    qErr LoaderStart();
    qErr LoaderReboot(UpdaterDisplayInterface& display);
    qErr CheckUEIDataSupport();
    qErr CheckPooledPacketsSupport();

    bool usesUEIData() const { return useUEIData; }

  private:
    qErr blockTransfer(const uint8_t* bytes, uint32_t length, uint32_t& blockCounter);
    qErr sendAsUEIData(const uint8_t* bytes, uint32_t length, uint32_t& sum,
                       uint32_t& blockCounter);
    qErr sendAsDataPackets(const uint8_t* bytes, uint32_t length, uint32_t& sum,
                           uint32_t& blockCounter, uint32_t& sent);
    qErr sendDataPiece(const uint8_t* bytes, uint8_t count, unsigned& refusals);
    qErr validateTransfer(uint32_t sum, uint32_t blockCounter);
    // Sends PREPARE for the block and awaits its status reply (at least 3 data bytes, status 0);
    // reply receives it for the caller to read further.
    qErr prepareExchange(const uint8_t* blockData, uint32_t blockLength, uint8_t flags,
                         uint8_t* reply, uint8_t& length);
    qErr sendUpgrade(uint8_t subCommand, const uint8_t* arguments, uint8_t length);
    // The same, logging a failure as "Error sending UPGRADE_<name>".
    qErr sendLogged(uint8_t subCommand, const uint8_t* arguments, uint8_t length, const char* name);
    // Awaits the reply that begins 95, leading; data receives up to 28 bytes.
    qErr awaitReply(uint8_t leading, uint8_t* data, uint8_t& length);
    // sendLogged, then awaitReply when the sub-command went out.
    qErr exchange(uint8_t subCommand, const uint8_t* arguments, uint8_t argumentLength,
                  const char* name, uint8_t leading, uint8_t* reply, uint8_t& length);
    qErr reconnect(unsigned delayMs);

    Pelmorax::Zendrival::Module* module = nullptr;
    bool validateTransfers = true;
    bool quickReboot = false;
    bool useUEIData = false;
};
