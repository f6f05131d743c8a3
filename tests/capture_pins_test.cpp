#include "capture/video_image.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Minimal COM objects that count their references, so the tests can see who
// took and gave back which reference.
struct CountedPin final : IPin {
    explicit CountedPin(PIN_DIRECTION direction) : direction(direction) {}
    HRESULT QueryInterface(REFIID, void **object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT ConnectedTo(IPin **) override { return E_NOTIMPL; }
    HRESULT QueryDirection(PIN_DIRECTION *out) override {
        *out = direction;
        return S_OK;
    }
    PIN_DIRECTION direction;
    ULONG references = 1;
};

struct PinList final : IEnumPins {
    explicit PinList(std::vector<CountedPin *> pins) : pins(std::move(pins)) {}
    HRESULT QueryInterface(REFIID, void **object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT Next(ULONG, IPin **pin, ULONG *fetched) override {
        if (next == pins.size())
            return S_FALSE;
        *pin = pins[next++];
        (*pin)->AddRef();
        if (fetched)
            *fetched = 1;
        return S_OK;
    }
    std::vector<CountedPin *> pins;
    size_t next = 0;
    ULONG references = 1;
};

struct PinnedFilter final : IBaseFilter {
    explicit PinnedFilter(std::vector<CountedPin *> pins) : pins(std::move(pins)) {}
    HRESULT QueryInterface(REFIID, void **object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT EnumPins(IEnumPins **out) override {
        enumerator = PinList(pins);
        *out = &enumerator;
        return S_OK;
    }
    std::vector<CountedPin *> pins;
    PinList enumerator{{}};
};

struct RecordingGraph final : IGraphBuilder {
    HRESULT QueryInterface(REFIID, void **object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT AddFilter(IBaseFilter *, LPCWSTR) override { return S_OK; }
    HRESULT Connect(IPin *out, IPin *in) override {
        connectedOut = out;
        connectedIn = in;
        return VFW_E_CANNOT_CONNECT;
    }
    IPin *connectedOut = nullptr;
    IPin *connectedIn = nullptr;
};

TEST(PinSearch, TakesTheFirstPinOfTheDirectionAndReleasesTheOthers) {
    CountedPin in1(PINDIR_INPUT), out1(PINDIR_OUTPUT), out2(PINDIR_OUTPUT);
    PinnedFilter filter({&in1, &out1, &out2});

    IPin *found = getVideoImage::getPin(&filter, PINDIR_OUTPUT);
    EXPECT_EQ(found, &out1);
    EXPECT_EQ(out1.references, 2u) << "the caller holds one reference";
    EXPECT_EQ(in1.references, 1u) << "a skipped pin is given back";
    EXPECT_EQ(out2.references, 1u) << "the search stops at the first match";
    EXPECT_EQ(filter.enumerator.references, 0u) << "the enumerator is released";

    IPin *untouched = &in1;
    PinnedFilter inputsOnly({&in1});
    EXPECT_EQ(getVideoImage::findPin(&inputsOnly, PINDIR_OUTPUT, &untouched), E_FAIL);
    EXPECT_EQ(untouched, &in1) << "a failed search leaves the out-pointer alone";
    EXPECT_EQ(getVideoImage::getPin(&inputsOnly, PINDIR_OUTPUT), nullptr);
    EXPECT_EQ(in1.references, 1u);
}

TEST(ConnectFilters, ConnectsFirstOutputToFirstInputAndGivesBackEveryPin) {
    CountedPin upIn(PINDIR_INPUT), upOut(PINDIR_OUTPUT), downIn(PINDIR_INPUT);
    PinnedFilter upstream({&upIn, &upOut});
    PinnedFilter downstream({&downIn});
    RecordingGraph graph;

    EXPECT_EQ(getVideoImage::connectFilters(&graph, &upstream, &downstream), VFW_E_CANNOT_CONNECT)
        << "the graph's own result is passed on";
    EXPECT_EQ(graph.connectedOut, &upOut);
    EXPECT_EQ(graph.connectedIn, &downIn);
    EXPECT_EQ(upOut.references, 1u);
    EXPECT_EQ(downIn.references, 1u);

    // No output pin upstream: nothing was taken, so nothing is released.
    PinnedFilter noOutput({&upIn});
    RecordingGraph untouched;
    EXPECT_EQ(getVideoImage::connectFilters(&untouched, &noOutput, &downstream), E_FAIL);
    EXPECT_EQ(untouched.connectedOut, nullptr);
    EXPECT_EQ(downIn.references, 1u);

    // No input pin downstream: the output pin already found is given back.
    PinnedFilter noInput({&upOut});
    EXPECT_EQ(getVideoImage::connectFilters(&untouched, &upstream, &noInput), E_FAIL);
    EXPECT_EQ(untouched.connectedOut, nullptr);
    EXPECT_EQ(upOut.references, 1u);
}

} // namespace
