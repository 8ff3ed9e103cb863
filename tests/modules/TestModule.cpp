// Recognition modules for the driver tests, one build per behaviour:
//   TESTMODULE_NO_FACTORY    exports release functions only
//   TESTMODULE_NULL_FACTORY  every factory answers null
//   TESTMODULE_REFUSE        every object refuses its model
//   TESTMODULE_TROUBLE       "fixed", but a picture 13 wide aborts the process and one 17
//                            wide never returns (a batch run's lost and stuck workers)
//   (none of these)          "fixed": initialise reads "<ret> <confidence>" from the model
//                            file; analyse writes them and logs "<w> <h> <overlap>" lines to
//                            "<model file>.log", so tests see what the driver passed.

#include "tool/RecognitionObject.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <string>
#include <thread>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<int> busy{0};

struct Fixed
{
    bool load(const char *modelPath)
    {
#ifdef TESTMODULE_REFUSE
        (void)modelPath;
        return false;
#else
        std::ifstream in(modelPath ? modelPath : "");
        if (!in) return false;
        // Numbers as written, whatever locale the process runs in.
        in.imbue(std::locale::classic());
        const bool ok = bool(in >> ret >> confidence);
        log = std::string(modelPath) + ".log";
        return ok;
#endif
    }

    void analyse(const unsigned char *pixels, int32_t w, int32_t h, int32_t bpp, int32_t *r,
                 float *c)
    {
#ifdef TESTMODULE_TROUBLE
        if (w == 13) std::abort();
        while (w == 17)
            std::this_thread::sleep_for(std::chrono::seconds(1));
#endif
        // Calls overlapping in time would mean the driver let two runs share the object.
        const bool overlap = busy.fetch_add(1) != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        unsigned first = 0;
        if (pixels && w > 0 && h > 0)
            first = unsigned(pixels[0]) | unsigned(pixels[1]) << 8 | unsigned(pixels[2]) << 16 |
                    unsigned(pixels[3]) << 24;
        if (std::FILE *f = std::fopen(log.c_str(), "a")) {
            std::fprintf(f, "%d %d %d %d %08x\n", w, h, bpp, overlap ? 1 : 0, first);
            std::fclose(f);
        }
        busy.fetch_sub(1);
        *r = ret;
        *c = confidence;
    }

    int32_t ret = 0;
    float confidence = 0;
    std::string log;
};

class FixedA final : public recognition::FormA
{
public:
    void reserved0() override {}
    void reserved1() override {}
    int32_t initialise(const char *model) override { return fixed.load(model) ? 0 : 1; }
    int32_t analyse(const unsigned char *p, int32_t w, int32_t h, int32_t bpp, int32_t *r,
                    float *c) override
    {
        fixed.analyse(p, w, h, bpp, r, c);
        return 0;
    }
    int32_t finish() override { return 0; }
    Fixed fixed;
};

class FixedB final : public recognition::FormB
{
public:
    void reserved0() override {}
    int32_t initialise(const char *model, const char *) override
    {
        return fixed.load(model) ? 0 : 1;
    }
    int32_t analyse(const unsigned char *p, int32_t w, int32_t h, int32_t bpp, int32_t *r,
                    float *c) override
    {
        fixed.analyse(p, w, h, bpp, r, c);
        return 0;
    }
    int32_t finish() override { return 0; }
    Fixed fixed;
};

template <class T, class Form> void *make()
{
#ifdef TESTMODULE_NULL_FACTORY
    return nullptr;
#else
    return static_cast<Form *>(new T);
#endif
}

} // namespace

#ifndef TESTMODULE_NO_FACTORY
EXPORT void *GetCategoryTaggerObj()
{
    return make<FixedA, recognition::FormA>();
}
EXPORT void *GetPlainBackdropObj()
{
    return make<FixedB, recognition::FormB>();
}
EXPORT void *GetDocSorterObj()
{
    return make<FixedB, recognition::FormB>();
}
#endif
EXPORT void ReleaseCategoryTaggerObj(void *o)
{
    delete static_cast<FixedA *>(static_cast<recognition::FormA *>(o));
}
EXPORT void ReleasePlainBackdropObj(void *o)
{
    delete static_cast<FixedB *>(static_cast<recognition::FormB *>(o));
}
EXPORT void ReleaseDocSorterObj(void *o)
{
    delete static_cast<FixedB *>(static_cast<recognition::FormB *>(o));
}
