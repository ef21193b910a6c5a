#include "UpdaterEntity.h"

#include <algorithm>

#include "Log.h"
#include "Module.h"
#include "qError.h"
#include "qPacket.h"

using Pelmorax::Zendrival::Module;

namespace {

uint32_t bigEndian32(const uint8_t* bytes) {
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
}

uint32_t byteSum(const uint8_t* bytes, uint32_t length) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < length; ++i) {
        sum += bytes[i];
    }
    return sum;
}

}  // namespace

UpdaterEntity::UpdaterEntity() = default;

void UpdaterEntity::init(Module* target, uint8_t index, bool validate, bool quick) {
    module = target;
    validateTransfers = validate;
    quickReboot = quick;
    useUEIData = false;
    EntityClass::init(target, cmdUPGRADE, index);
}

qErr UpdaterEntity::sendUpgrade(uint8_t subCommand, const uint8_t* arguments, uint8_t length) {
    uint8_t data[qPACKET_MAX_DATA];
    data[0] = subCommand;
    std::copy(arguments, arguments + length, data + 1);
    return sendPacket(cmdUPGRADE, static_cast<uint8_t>(length + 1), data);
}

qErr UpdaterEntity::sendLogged(uint8_t subCommand, const uint8_t* arguments, uint8_t length,
                               const char* name) {
    qErr result = sendUpgrade(subCommand, arguments, length);
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_%s (%d)\n", name, result);
    }
    return result;
}

qErr UpdaterEntity::awaitReply(uint8_t leading, uint8_t* data, uint8_t& length) {
    const uint8_t pattern[2] = {cmdUPGRADE, leading};
    length = sizeof(pattern);
    return receivePacket(pattern, &length, data);
}

qErr UpdaterEntity::exchange(uint8_t subCommand, const uint8_t* arguments, uint8_t argumentLength,
                             const char* name, uint8_t leading, uint8_t* reply, uint8_t& length) {
    const qErr result = sendLogged(subCommand, arguments, argumentLength, name);
    if (result != qErrNone) {
        return result;
    }
    return awaitReply(leading, reply, length);
}

qErr UpdaterEntity::prepareExchange(const uint8_t* blockData, uint32_t blockLength, uint8_t flags,
                                    uint8_t* reply, uint8_t& length) {
    if (blockData == nullptr || blockLength < 4) {
        return qErrParam;  // a block begins with its load address
    }
    const uint8_t arguments[5] = {flags, blockData[0], blockData[1], blockData[2], blockData[3]};
    Log::log(DEBUG_Network_FIRM,
             "NETWORK: TransferPrepare {cmdUPGRADE, val_UPGRADE_PREPARE, %02X, [%02X %02X %02X "
             "%02X]} \n",
             flags, blockData[0], blockData[1], blockData[2], blockData[3]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Address: %d\n", bigEndian32(blockData));
    const qErr result = exchange(val_UPGRADE_PREPARE, arguments, sizeof(arguments), "PREPARE",
                                 val_UPGRADE_STATUS, reply, length);
    if (result != qErrNone) {
        return result;
    }
    if (length < 3 || reply[2] != 0) {
        Log::log(DEBUG_Network_FIRM,
                 "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return qErrInvalidOption;
    }
    return qErrNone;
}

qErr UpdaterEntity::TransferPrepare(const uint8_t* blockData, uint32_t blockLength, uint8_t flags,
                                    uint16_t& blockSize) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", blockLength,
             flags, blockSize);
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    qErr result = prepareExchange(blockData, blockLength, flags, reply, length);
    if (result != qErrNone) {
        return result;
    }
    // Firmware goes in pieces of the block size, so a reply without one leaves nothing to cut by.
    if (length < 5) {
        Log::log(DEBUG_Network_FIRM,
                 "NETWORK: Invalid or error reply when initializing loader for firmware.\n");
        return qErrInvalidOption;
    }
    blockSize = static_cast<uint16_t>((reply[3] << 8) | reply[4]);
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated firmware init [%d block size]\n",
             blockSize);
    return qErrNone;
}

qErr UpdaterEntity::LoaderPrepare(const uint8_t* blockData, uint32_t blockLength, uint8_t flags) {
    Log::log(DEBUG_Network_FIRM, "NETWORK: TransferPrepare(..., %d, %02X, %d)\n", blockLength,
             flags, 0);
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    return prepareExchange(blockData, blockLength, flags, reply, length);
}

qErr UpdaterEntity::LoaderTransfer(const uint8_t* blockData, uint32_t blockLength) {
    if (blockData == nullptr || blockLength < 4) {
        return qErrParam;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader Transfer (addr=%08X, len=%d)\n",
             bigEndian32(blockData), blockLength);
    uint32_t blockCounter = 0;
    return blockTransfer(blockData + 4, blockLength - 4, blockCounter);
}

qErr UpdaterEntity::FirmwareTransfer(const uint8_t* blockData, uint32_t blockLength,
                                     uint16_t blockSize, UpdaterDisplayInterface& display) {
    if (blockData == nullptr || blockLength < 4) {
        return qErrParam;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Transfer (addr=%08X, len=%d)\n",
             bigEndian32(blockData), blockLength);
    // A module that asks for pieces of 0 bytes would never see the block end.
    if (blockSize == 0 && blockLength > 4) {
        Log::log(0, "NETWORK: Module asked for firmware pieces of 0 bytes.\n");
        return qErrInvalidOption;
    }
    const uint8_t* position = blockData + 4;
    uint32_t remaining = blockLength - 4;
    qErr result = qErrNone;
    display.display_progress(true);
    while (remaining > 0 && result == qErrNone) {
        uint32_t piece = std::min<uint32_t>(remaining, blockSize);
        uint32_t blockCounter = 0;
        result = blockTransfer(position, piece, blockCounter);
        if (result == qErrNone) {
            remaining -= piece;
            position += piece;
            display.update_progress(double(blockLength - remaining) / blockLength, nullptr);
            result = FirmwareWrite(piece);
        }
    }
    display.display_progress(false);
    Log::log(DEBUG_Network_FIRM, "NETWORK: transferred %d of %d bytes\n", blockLength - remaining,
             blockLength);
    if (result != qErrNone) {
        Log::log(0, "NETWORK: Failed to transfer firmware\n");
    }
    return result;
}

qErr UpdaterEntity::FirmwareWrite(uint32_t length) {
    const uint8_t arguments[2] = {uint8_t(length >> 8), uint8_t(length)};
    Log::log(DEBUG_Network_FIRM, "NETWORK: Firmware Write {cmdUPGRADE, val_UPGRADE_WRITE, %d}\n\n",
             length & 0xFFFF);
    qErr result = sendUpgrade(val_UPGRADE_WRITE, arguments, sizeof(arguments));
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "NETWORK: Error sending UPGRADE_WRITE (%d, %s)\n", result,
                 qError_GetErrorText(result));
        return result;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t replyLength = 0;
    if (awaitReply(val_UPGRADE_STATUS, reply, replyLength) != qErrNone || replyLength < 3 ||
        reply[2] != 0) {
        Log::log(DEBUG_Network_FIRM,
                 "NETWORK: invalid or error reply when loader writing firmware.\n\n");
        return qErrInvalidOption;
    }
    Log::log(DEBUG_Network_FIRM, "NETWORK: Loader validated write\n\n");
    return qErrNone;
}

qErr UpdaterEntity::blockTransfer(const uint8_t* bytes, uint32_t length, uint32_t& blockCounter) {
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer\n");
    uint32_t sum = 0;
    uint32_t sent = 0;
    qErr result;
    if (useUEIData) {
        result = sendAsUEIData(bytes, length, sum, blockCounter);
        if (result == qErrNone) {
            sent = length;
        }
    } else {
        result = sendAsDataPackets(bytes, length, sum, blockCounter, sent);
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: transferred %d of %d bytes\n", sent, length);
    if (result != qErrNone || !validateTransfers) {
        return result;
    }
    return validateTransfer(sum, blockCounter);
}

qErr UpdaterEntity::sendAsUEIData(const uint8_t* bytes, uint32_t length, uint32_t& sum,
                                  uint32_t& blockCounter) {
    Log::log(DEBUG_Network_FIRM,
             "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA_UEI, %d} \n", length);
    qErr result = setUEIBytes(val_UPGRADE_DATA_UEI, bytes, length);
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA_UEI (%d)\n", result);
        return result;
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d bytes \n", length);
    sum = byteSum(bytes, length);
    blockCounter = 1;
    return qErrNone;
}

qErr UpdaterEntity::sendAsDataPackets(const uint8_t* bytes, uint32_t length, uint32_t& sum,
                                      uint32_t& blockCounter, uint32_t& sent) {
    unsigned refusals = 0;
    while (sent < length) {
        uint8_t count = static_cast<uint8_t>(std::min<uint32_t>(length - sent, DATA_PIECE_MAX));
        qErr result = sendDataPiece(bytes + sent, count, refusals);
        if (result == qErrNotReady) {
            continue;  // the module took a different count: the same bytes again
        }
        if (result != qErrNone) {
            return result;
        }
        sum += byteSum(bytes + sent, count);
        sent += count;
        ++blockCounter;
        refusals = 0;
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: accepted %d more bytes (%d of %d remaining)\n",
                 count, length - sent, length);
    }
    return qErrNone;
}

// qErrNotReady asks the caller to send the same bytes again.
qErr UpdaterEntity::sendDataPiece(const uint8_t* bytes, uint8_t count, unsigned& refusals) {
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Block Transfer {cmdUPGRADE, val_UPGRADE_DATA, %d} \n",
             count);
    qErr result = sendUpgrade(val_UPGRADE_DATA, bytes, count);
    if (result != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK: Error sending UPGRADE_DATA (%d)\n", result);
        return result;
    }
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    if (awaitReply(val_UPGRADE_DATA, reply, length) != qErrNone || length < 3) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(DATA): No reply when initializing upgrade.\n");
        return qErrPacket;
    }
    if (reply[2] == count) {
        return qErrNone;
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Invalid upgrade transfer response [%d != %d].\n",
             reply[2], count);
    if (++refusals > MAX_DATA_RESENDS) {
        Log::log(0, "\nNETWORK: Module refused the same %d bytes %u times; giving up.\n", count,
                 refusals);
        return qErrInvalidOption;
    }
    return qErrNotReady;
}

qErr UpdaterEntity::validateTransfer(uint32_t sum, uint32_t blockCounter) {
    Log::log(DEBUG_Network_FIRM,
             "\nNETWORK: Block Transfer Validation {cmdUPGRADE, val_UPGRADE_SUM}\n");
    (void)sendUpgrade(val_UPGRADE_SUM, nullptr, 0);  // a lost request shows as a missing reply
    uint8_t reply[qPACKET_MAX_DATA];
    uint8_t length = 0;
    if (awaitReply(val_UPGRADE_STATUS, reply, length) != qErrNone) {
        Log::log(DEBUG_Network_FIRM, "\nNETWORK(STATUS): No reply when initializing upgrade.\n");
        return qErrPacket;
    }
    uint8_t status = length >= 3 ? reply[2] : 0xFF;
    uint32_t deviceSum = length >= 7 ? bigEndian32(reply + 3) : ~sum;
    if (status != 0 || deviceSum != sum) {
        Log::log(0, "\nNETWORK: Unable to validate transfer [%02X] [%08X != %08X].\n", status,
                 deviceSum, sum);
        return qErrInvalidOption;
    }
    Log::log(DEBUG_Network_FIRM, "\nNETWORK: Validate transfer [%02X] [%08X == %08X][%d blocks].\n",
             status, deviceSum, sum, blockCounter);
    return qErrNone;
}
