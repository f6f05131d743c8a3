// The system device enumerator: lists the camera table's cameras as monikers.

#include "platform/directshow/filter.h"

namespace {

IMoniker *monikerFor(const CameraListing &listing) { return createMoniker(listing); }

class SystemDeviceEnum final : public ComObject<ICreateDevEnum> {
  public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker **monikers,
                                                    DWORD) override {
        if (!monikers)
            return E_POINTER;
        *monikers = nullptr;
        if (category != CLSID_VideoInputDeviceCategory)
            return S_FALSE;
        std::vector<CameraListing> cameras;
        const bool complete = cameraTable().list(&cameras);
        // Like Windows: an empty category has no enumerator at all. Windows
        // lists at once; a device service that has not answered yet has
        // nothing to list so far, which is not the same as no camera.
        if (cameras.empty())
            return complete ? S_FALSE : E_PENDING;
        *monikers = new ComEnumerator<IEnumMoniker, IMoniker, CameraListing>(std::move(cameras),
                                                                             monikerFor);
        return S_OK;
    }
};

} // namespace

HRESULT createSystemDeviceEnum(REFIID riid, void **object) {
    return createObject<SystemDeviceEnum>(riid, object);
}
