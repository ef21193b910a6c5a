#include "unix_streamserial.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <termios.h>
#include <unistd.h>

#include "qStreamDescriptor.h"
#include "qStream_CobsEncoding.h"
#include "unix_file.h"

namespace {

struct SerialRecord {
    uint16_t check = qSERIALSTREAM_CHECK;
    int baudCode = 0;
    char path[qSERIAL_PATH_SIZE] = {};
    int descriptor = -1;
    termios savedSettings{};
    termios settings{};
};

SerialRecord* recordOf(void* reference) {
    SerialRecord* record = static_cast<SerialRecord*>(reference);
    return record != nullptr && record->check == qSERIALSTREAM_CHECK ? record : nullptr;
}

speed_t speedOf(int baudCode) {
    static const speed_t speeds[] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
    if (baudCode < 0 || baudCode >= static_cast<int>(sizeof speeds / sizeof speeds[0])) {
        return B0;
    }
    return speeds[baudCode];
}

// Raw line: no echo, no line editing, no translation; a read returns at once with what is there.
termios rawSettings(int baudCode, bool parity, bool sevenBits, bool twoStopBits) {
    termios t{};
    t.c_cflag = CREAD | CLOCAL | (parity ? PARENB : 0) | (sevenBits ? CS7 : CS8) |
                (twoStopBits ? CSTOPB : 0);
    t.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speedOf(baudCode));
    cfsetospeed(&t, speedOf(baudCode));
    return t;
}

qErr openPort(SerialRecord* record, bool parity, bool sevenBits, bool twoStopBits) {
    // Non-blocking so that the open itself cannot hang on a modem line; reads are made
    // non-waiting by the terminal settings instead.
    int fd = open(record->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return qFile_PathError(errno);
    }
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        tcgetattr(fd, &record->savedSettings) != 0) {
        close(fd);
        return qErrIO;
    }
    record->settings = rawSettings(record->baudCode, parity, sevenBits, twoStopBits);
    if (tcsetattr(fd, TCSANOW, &record->settings) != 0 || tcflush(fd, TCIOFLUSH) != 0) {
        tcsetattr(fd, TCSANOW, &record->savedSettings);
        close(fd);
        return qErrIO;
    }
    record->descriptor = fd;
    return qErrNone;
}

qErr serialGet(uint8_t* byte, void* reference) {
    SerialRecord* record = recordOf(reference);
    if (record == nullptr || byte == nullptr) {
        return qErrParam;
    }
    return qStreamDescriptor_GetByte(record->descriptor, qSTREAM_IDLE_WAIT_MS, byte);
}

qErr serialWrite(const uint8_t* bytes, size_t length, void* reference) {
    SerialRecord* record = recordOf(reference);
    if (record == nullptr || (bytes == nullptr && length > 0)) {
        return qErrParam;
    }
    ssize_t rc = write(record->descriptor, bytes, length);
    if (rc < 0 || static_cast<size_t>(rc) != length) {
        return qErrIO;
    }
    // Half-duplex bootloader protocols turn the line around right after a command.
    return tcdrain(record->descriptor) == 0 ? qErrNone : qErrIO;
}

qErr serialPut(uint8_t byte, void* reference) {
    return serialWrite(&byte, 1, reference);
}

qErr serialDelete(void* reference) {
    SerialRecord* record = recordOf(reference);
    if (record == nullptr) {
        return qErrParam;
    }
    qErr err = qErrNone;
    if (record->descriptor >= 0) {
        if (tcsetattr(record->descriptor, TCSANOW, &record->savedSettings) != 0) {
            err = qErrIO;
        }
        close(record->descriptor);
    }
    record->check = 0;
    delete record;
    return err;
}

bool codesUsable(int dataBits, int stopBits) {
    return (dataBits == 0 || dataBits == 1) && (stopBits == 0 || stopBits == 1);
}

}  // namespace

qErr qStream_CreateSerial(const char* path, int baudCode, int parity, int dataBits, int stopBits,
                          qStream** stream) {
    if (path == nullptr || stream == nullptr || !codesUsable(dataBits, stopBits) ||
        strnlen(path, qSERIAL_PATH_SIZE) >= qSERIAL_PATH_SIZE) {
        return qErrResource;
    }
    SerialRecord* record = new (std::nothrow) SerialRecord();
    if (record == nullptr) {
        return qErrResource;
    }
    record->baudCode = baudCode;
    strcpy(record->path, path);
    qErr err = openPort(record, parity != 0, dataBits == 1, stopBits == 1);
    if (err != qErrNone) {
        serialDelete(record);
        return err;
    }
    if (!qStream_CreateOwning(serialGet, serialPut, serialWrite, serialDelete, record, stream)) {
        return qErrResource;
    }
    (*stream)->getWaitMs = qSTREAM_IDLE_WAIT_MS;
    return qErrNone;
}

qErr qStream_CreateSerial_Packetized(const char* path, int baudCode, int parity, int dataBits,
                                     int stopBits, qStream** stream) {
    if (stream == nullptr) {
        return qErrResource;
    }
    qStream* port = nullptr;
    qErr err = qStream_CreateSerial(path, baudCode, parity, dataBits, stopBits, &port);
    if (err != qErrNone) {
        return err;
    }
    err = qStream_CreateCobsEncoding(port->get, port->put, port->write, port->del, port->reference,
                                     stream);
    if (err != qErrNone) {
        qStream_Destroy(&port);
        return err;
    }
    // A frame's get waits only as long as the port's get when no byte comes.
    (*stream)->getWaitMs = port->getWaitMs;
    // The framed stream owns the open port now; only the outer record goes.
    port->del = nullptr;
    qStream_Destroy(&port);
    return qErrNone;
}
