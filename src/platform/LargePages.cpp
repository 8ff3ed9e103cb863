#include "LargePages.h"

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

void adviseLargePages(void *data, quint64 size, quint64 worthIt)
{
#ifdef MADV_HUGEPAGE
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (!data || size < worthIt || pageSize <= 0) return;
    // madvise takes whole pages; the part of the buffer that starts on a page boundary.
    const quintptr page = quintptr(pageSize);
    const quintptr begin = (quintptr(data) + page - 1) & ~(page - 1);
    const quintptr end = (quintptr(data) + size) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
    Q_UNUSED(worthIt);
#endif
}

} // namespace platform
