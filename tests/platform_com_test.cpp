#include <qedit.h>

#include <gtest/gtest.h>

TEST(Com, CreateInstanceChecksItsArguments) {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);

    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(MEDIATYPE_Video, nullptr, CLSCTX_INPROC, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, nullptr),
        E_POINTER);

    IUnknown *outer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IUnknown,
                               reinterpret_cast<void **>(&outer)),
              S_OK);
    object = reinterpret_cast<void *>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, outer, CLSCTX_INPROC, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC, IID_ISampleGrabber, &object),
        E_NOINTERFACE);
    EXPECT_EQ(outer->Release(), 0u);
    CoUninitialize();
}

// Each class answers for its own interfaces and IUnknown, keeps one count
// across them, and refuses the rest.
TEST(Com, EveryClassFollowsTheQueryInterfaceRules) {
    struct Case {
        const CLSID &clsid;
        const IID &own;
        const IID &other;
    };
    const Case cases[] = {
        {CLSID_FilterGraph, IID_IMediaControl, IID_IBaseFilter},
        {CLSID_SystemDeviceEnum, IID_ICreateDevEnum, IID_IBaseFilter},
        {CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, IID_IGraphBuilder},
        {CLSID_SampleGrabber, IID_ISampleGrabber, IID_IPin},
        {CLSID_NullRenderer, IID_IBaseFilter, IID_ISampleGrabber},
    };
    for (const Case &c : cases) {
        IUnknown *object = nullptr;
        ASSERT_EQ(CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC, IID_IUnknown,
                                   reinterpret_cast<void **>(&object)),
                  S_OK);
        EXPECT_EQ(object->QueryInterface(c.own, nullptr), E_POINTER);
        void *other = reinterpret_cast<void *>(1);
        EXPECT_EQ(object->QueryInterface(c.other, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);

        IUnknown *own = nullptr;
        ASSERT_EQ(object->QueryInterface(c.own, reinterpret_cast<void **>(&own)), S_OK);
        IUnknown *identity = nullptr;
        ASSERT_EQ(own->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
        EXPECT_EQ(identity, object);
        EXPECT_EQ(identity->Release(), 2u);
        EXPECT_EQ(own->Release(), 1u);
        EXPECT_EQ(object->Release(), 0u);
    }
}

TEST(Com, TaskMemoryAndGuidComparison) {
    void *block = CoTaskMemAlloc(16);
    ASSERT_NE(block, nullptr);
    CoTaskMemFree(block);
    CoTaskMemFree(nullptr);
    EXPECT_TRUE(PIN_CATEGORY_CAPTURE == PIN_CATEGORY_CAPTURE);
    EXPECT_FALSE(PIN_CATEGORY_CAPTURE == PIN_CATEGORY_PREVIEW);
    EXPECT_TRUE(IsEqualGUID(CLSID_SampleGrabber, CLSID_SampleGrabber));
    EXPECT_NE(CLSID_SampleGrabber, CLSID_NullRenderer);
}
