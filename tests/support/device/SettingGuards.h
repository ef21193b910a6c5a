// Guards for the device library's process-wide settings: each sets one for a scope and puts the
// earlier value back in its destructor, so a failed assertion cannot leave it to the next test.
#pragma once

#include <cstdint>
#include <string>

#include "TestSupport.h"
#include "qDebugging.h"
#include "zvusb_driver.h"

namespace zvtest {

// Points the USB layer at a fresh directory for the kernel driver's device nodes, where a node
// is "zendrival.SERIAL"; afterwards the USB layer goes back to libusb.
class KernelNodeDirectory {
  public:
    KernelNodeDirectory() { zvusb_set_kernel_node_directory(dir_.path().c_str()); }
    ~KernelNodeDirectory() { zvusb_set_kernel_node_directory(nullptr); }
    KernelNodeDirectory(const KernelNodeDirectory&) = delete;
    KernelNodeDirectory& operator=(const KernelNodeDirectory&) = delete;

    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string node(const std::string& serialText) const {
        return dir_.file("zendrival." + serialText);
    }

  private:
    TempDir dir_;
};

// Turns the library's trace lines of the given kinds on for one scope.
class LibraryTrace {
  public:
    explicit LibraryTrace(uint32_t level)
        : enable_(qZendrivalDebuggingEnable), level_(qZendrivalDebuggingLevel) {
        qZendrivalDebuggingLevel = level;
        qZendrivalDebuggingEnable = 1;
    }
    ~LibraryTrace() {
        qZendrivalDebuggingEnable = enable_;
        qZendrivalDebuggingLevel = level_;
    }
    LibraryTrace(const LibraryTrace&) = delete;
    LibraryTrace& operator=(const LibraryTrace&) = delete;

  private:
    uint8_t enable_;
    uint32_t level_;
};

}  // namespace zvtest
