// Writes a file so that readers see either the old content or the whole new one: the bytes go to
// a hidden temporary file beside the target, which is renamed over the target once complete. An
// interrupted write therefore never leaves a truncated settings file or firmware build.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "qError.h"

class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::string target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; false with errno set when that fails.
    bool Open();
    // qErrIO when nothing was written, qErrWrite when only part was.
    qErr Write(const void* bytes, size_t length);
    // Flushes to disk and renames over the target; on any failure the target is untouched.
    qErr Commit();

  private:
    void Discard();

    std::string target_;
    std::string temporary_;
    FILE* file_ = nullptr;
};
