#include <gtest/gtest.h>

#include "platform/components.h"

namespace {

// A small component with a selector table, instance storage and a shared
// reference value, built the way the system's own components are.
struct CounterStorage {
    int calls = 0;
    ComponentInstance delegate = nullptr;
};

constexpr std::int16_t kIncrement = 0x81;
constexpr std::int16_t kForward = 0x82;

struct IncrementParams {
    int by;
};

ComponentResult CounterEntry(ComponentInstance self, std::int16_t selector, void* params) {
    auto* storage = static_cast<CounterStorage*>(GetComponentInstanceStorage(self));
    switch (selector) {
    case kComponentOpenSelect: {
        auto* s = new (std::nothrow) CounterStorage;
        if (s == nullptr) return memFullErr;
        SetComponentInstanceStorage(self, s);
        Component me = GetComponentOf(self);
        SetComponentRefcon(me, GetComponentRefcon(me) + 1);
        return noErr;
    }
    case kComponentCloseSelect:
        delete storage;
        return noErr;
    case kComponentCanDoSelect: {
        std::int16_t asked = static_cast<ComponentCanDoParams*>(params)->selector;
        return (asked >= kComponentVersionSelect && asked <= kComponentOpenSelect) || asked == kIncrement ||
               asked == kForward;
    }
    case kComponentVersionSelect: return 0x00010005;
    case kIncrement:
        storage->calls += static_cast<IncrementParams*>(params)->by;
        return storage->calls;
    case kForward: return DelegateComponentCall(storage->delegate, kIncrement, params);
    default: return badComponentSelector;
    }
}

ComponentResult FailingOpen(ComponentInstance, std::int16_t selector, void*) {
    return selector == kComponentOpenSelect ? memFullErr : badComponentSelector;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        ComponentDescription d;
        d.componentType = Fcc("test");
        d.componentSubType = Fcc("cntr");
        d.componentManufacturer = Fcc("VTRO");
        d.componentFlags = 0x98030;
        counter_ = RegisterComponent(d, CounterEntry, "Counter");
        ASSERT_NE(counter_, nullptr);
        d.componentSubType = Fcc("fail");
        d.componentFlags = 0x10;
        failing_ = RegisterComponent(d, FailingOpen, "Failing");
        ASSERT_NE(failing_, nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(UnregisterComponent(counter_), noErr);
        EXPECT_EQ(UnregisterComponent(failing_), noErr);
    }

    Component counter_ = nullptr;
    Component failing_ = nullptr;
};

} // namespace

TEST_F(Registry, FindsByDescriptionWithFlagsMask) {
    ComponentDescription looking;
    looking.componentType = Fcc("test");
    EXPECT_EQ(CountComponents(looking), 2);
    EXPECT_EQ(FindNextComponent(nullptr, looking), counter_);
    EXPECT_EQ(FindNextComponent(counter_, looking), failing_);
    EXPECT_EQ(FindNextComponent(failing_, looking), nullptr);

    looking.componentFlags = 0x88000;
    looking.componentFlagsMask = 0x88000;
    EXPECT_EQ(FindNextComponent(nullptr, looking), counter_);
    EXPECT_EQ(CountComponents(looking), 1);
    looking.componentFlags = 0x8;
    looking.componentFlagsMask = 0x8;
    EXPECT_EQ(FindNextComponent(nullptr, looking), nullptr);

    ComponentDescription d;
    std::string name;
    ASSERT_EQ(GetComponentInfo(counter_, &d, &name), noErr);
    EXPECT_EQ(name, "Counter");
    EXPECT_EQ(d.componentManufacturer, Fcc("VTRO"));
}

TEST_F(Registry, InstancesKeepTheirOwnStorageAndShareTheRefcon) {
    ComponentInstance a = nullptr, b = nullptr;
    ASSERT_EQ(OpenDefaultComponent(Fcc("test"), Fcc("cntr"), a), noErr);
    ASSERT_EQ(OpenComponent(counter_, b), noErr);
    EXPECT_EQ(CountComponentInstances(counter_), 2);
    EXPECT_EQ(GetComponentRefcon(counter_), 2); // both opens saw the one shared value

    IncrementParams p{5};
    EXPECT_EQ(CallComponent(a, kIncrement, &p), 5);
    EXPECT_EQ(CallComponent(a, kIncrement, &p), 10);
    EXPECT_EQ(CallComponent(b, kIncrement, &p), 5);

    // Delegation passes the call on to the other instance unchanged.
    static_cast<CounterStorage*>(GetComponentInstanceStorage(a))->delegate = b;
    EXPECT_EQ(CallComponent(a, kForward, &p), 10);
    EXPECT_EQ(static_cast<CounterStorage*>(GetComponentInstanceStorage(b))->calls, 10);

    EXPECT_EQ(UnregisterComponent(counter_), validInstancesExist);
    ASSERT_EQ(CloseComponent(a), noErr);
    ASSERT_EQ(CloseComponent(b), noErr);
    EXPECT_EQ(CountComponentInstances(counter_), 0);
}

TEST_F(Registry, SelectorsCanDoVersionAndUnknownSelectors) {
    ComponentInstance a = nullptr;
    ASSERT_EQ(OpenComponent(counter_, a), noErr);
    EXPECT_EQ(ComponentFunctionImplemented(a, kIncrement), 1);
    EXPECT_EQ(ComponentFunctionImplemented(a, 0x85), 0);
    EXPECT_EQ(ComponentFunctionImplemented(a, kComponentCanDoSelect), 1);
    EXPECT_EQ(GetComponentVersion(a), 0x00010005);
    EXPECT_EQ(CallComponent(a, 0x85, nullptr), badComponentSelector);
    // Open and close go through their own calls only.
    EXPECT_EQ(CallComponent(a, kComponentCloseSelect, nullptr), badComponentSelector);
    ASSERT_EQ(CloseComponent(a), noErr);
}

TEST_F(Registry, FailedOpenLeavesNoInstance) {
    ComponentInstance i = nullptr;
    EXPECT_EQ(OpenComponent(failing_, i), memFullErr);
    EXPECT_EQ(i, nullptr);
    EXPECT_EQ(CountComponentInstances(failing_), 0);
    EXPECT_EQ(OpenDefaultComponent(Fcc("test"), Fcc("none"), i), invalidComponentID);
}
