#include "enumerators.h"

#include "filter.h"
#include "output_pin.h"

ULONG listSize(TestCameraFilter &filter) { return filter.pinCount(); }

bool listItem(TestCameraFilter &filter, ULONG position, IPin **pin) {
    *pin = filter.pin(position);
    return true;
}

ULONG listSize(OutputPin &pin) { return pin.offeredCount(); }

bool listItem(OutputPin &pin, ULONG position, AM_MEDIA_TYPE **type) {
    *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!*type)
        return false;
    if (pin.offeredType(position, *type))
        return true;
    CoTaskMemFree(*type);
    return false;
}
