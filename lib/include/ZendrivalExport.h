// What the shared library exports. The library is built with hidden visibility, so a function or
// class is part of libzendrival.so only when its declaration carries ZENDRIVAL_EXPORT; everything
// else stays inside the library (the tests reach it through the in-tree static library).
#pragma once

#define ZENDRIVAL_EXPORT __attribute__((visibility("default")))
