#pragma once

// The contract between the analysis driver and a recognition module library.
//
// A module exports, with C linkage, one factory and one release function per method
// (GetCategoryTaggerObj / ReleaseCategoryTaggerObj, GetPlainBackdropObj /
// ReleasePlainBackdropObj, GetDocSorterObj / ReleaseDocSorterObj, and the same pairs for
// cornerseek, tiltsense and tone_filter, which are never asked for). A factory returns an
// object of one of the two forms below, or null; the release function takes it back.
//
// The driver calls operations by their position in the object's table of virtual
// functions, so the order below is the contract. Slot 0 is a placeholder on purpose: a
// virtual destructor takes two slots in the Itanium ABI and would shift every operation.
// Objects are destroyed only through their module's release function.
//
// analyse() receives the top row of a 32-bit ARGB picture without premultiplication
// (bytes blue, green, red, alpha; rows of width * 4 bytes), which may be empty (null
// pixels, 0 x 0): modules must accept that. Paths are zero-terminated, in the local 8-bit
// encoding of file names.

#include <cstdint>

namespace recognition {

using Factory = void *(*)();
using Release = void (*)(void *);

// pic_category_pc
class FormA
{
public:
    virtual void reserved0() = 0;
    virtual void reserved1() = 0;
    virtual int32_t initialise(const char *modelPath) = 0; // 0 = success
    virtual int32_t analyse(const unsigned char *pixels, int32_t width, int32_t height,
                            int32_t bytesPerPixel, int32_t *ret, float *confidence) = 0;
    virtual int32_t finish() = 0;

protected:
    ~FormA() = default;
};

// plainbackdrop_pc, docsorter_pc
class FormB
{
public:
    virtual void reserved0() = 0;
    virtual int32_t initialise(const char *modelPath, const char *labelPath) = 0; // 0 = success
    virtual int32_t analyse(const unsigned char *pixels, int32_t width, int32_t height,
                            int32_t bytesPerPixel, int32_t *ret, float *confidence) = 0;
    virtual int32_t finish() = 0;

protected:
    ~FormB() = default;
};

} // namespace recognition
