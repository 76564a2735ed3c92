// The in-process component registry.
#include "platform/components.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

struct ComponentRecord {
    ComponentDescription description;
    ComponentRoutine entry;
    std::string name;
    std::intptr_t refcon = 0;
    std::int32_t instances = 0;
};

struct ComponentInstanceRecord {
    Component component;
    void* storage = nullptr;
};

namespace {

// Registration order is search order. Records are never moved, so a
// Component stays valid until it is unregistered.
std::recursive_mutex gLock;
std::vector<std::unique_ptr<ComponentRecord>> gRegistry;

bool Matches(const ComponentDescription& have, const ComponentDescription& looking) {
    if (looking.componentType != 0 && looking.componentType != have.componentType) return false;
    if (looking.componentSubType != 0 && looking.componentSubType != have.componentSubType) return false;
    if (looking.componentManufacturer != 0 && looking.componentManufacturer != have.componentManufacturer) return false;
    const std::uint32_t mask = looking.componentFlagsMask;
    return (have.componentFlags & mask) == (looking.componentFlags & mask);
}

bool IsRegistered(Component component) {
    return std::any_of(gRegistry.begin(), gRegistry.end(), [&](const auto& r) { return r.get() == component; });
}

} // namespace

Component RegisterComponent(const ComponentDescription& description, ComponentRoutine entry, std::string_view name) {
    if (entry == nullptr) return nullptr;
    std::lock_guard lock(gLock);
    try {
        auto record = std::make_unique<ComponentRecord>();
        record->description = description;
        record->entry = entry;
        record->name = name;
        gRegistry.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return gRegistry.back().get();
}

OSErr UnregisterComponent(Component component) {
    std::lock_guard lock(gLock);
    auto it = std::find_if(gRegistry.begin(), gRegistry.end(), [&](const auto& r) { return r.get() == component; });
    if (it == gRegistry.end()) return invalidComponentID;
    if ((*it)->instances > 0) return validInstancesExist;
    gRegistry.erase(it);
    return noErr;
}

Component FindNextComponent(Component previous, const ComponentDescription& looking) {
    std::lock_guard lock(gLock);
    auto it = gRegistry.begin();
    if (previous != nullptr) {
        it = std::find_if(gRegistry.begin(), gRegistry.end(), [&](const auto& r) { return r.get() == previous; });
        if (it == gRegistry.end()) return nullptr;
        ++it;
    }
    for (; it != gRegistry.end(); ++it)
        if (Matches((*it)->description, looking)) return it->get();
    return nullptr;
}

std::int32_t CountComponents(const ComponentDescription& looking) {
    std::lock_guard lock(gLock);
    return static_cast<std::int32_t>(
        std::count_if(gRegistry.begin(), gRegistry.end(), [&](const auto& r) { return Matches(r->description, looking); }));
}

OSErr GetComponentInfo(Component component, ComponentDescription* description, std::string* name) {
    std::lock_guard lock(gLock);
    if (!IsRegistered(component)) return invalidComponentID;
    if (description) *description = component->description;
    if (name) *name = component->name;
    return noErr;
}

std::intptr_t GetComponentRefcon(Component component) {
    std::lock_guard lock(gLock);
    return IsRegistered(component) ? component->refcon : 0;
}

void SetComponentRefcon(Component component, std::intptr_t refcon) {
    std::lock_guard lock(gLock);
    if (IsRegistered(component)) component->refcon = refcon;
}

std::int32_t CountComponentInstances(Component component) {
    std::lock_guard lock(gLock);
    return IsRegistered(component) ? component->instances : 0;
}

OSErr OpenComponent(Component component, ComponentInstance& instance) {
    ComponentInstance opened = nullptr;
    {
        std::lock_guard lock(gLock);
        if (!IsRegistered(component)) return invalidComponentID;
        opened = new (std::nothrow) ComponentInstanceRecord{component};
        if (opened == nullptr) return memFullErr;
        ++component->instances;
    }
    // The open selector runs outside the lock: it may open other components.
    ComponentResult result = component->entry(opened, kComponentOpenSelect, nullptr);
    if (result != noErr) {
        std::lock_guard lock(gLock);
        --component->instances;
        delete opened;
        return ToOSErr(result);
    }
    instance = opened;
    return noErr;
}

OSErr OpenDefaultComponent(OSType type, OSType subType, ComponentInstance& instance) {
    ComponentDescription looking;
    looking.componentType = type;
    looking.componentSubType = subType;
    Component found = FindNextComponent(nullptr, looking);
    if (found == nullptr) return invalidComponentID;
    return OpenComponent(found, instance);
}

OSErr CloseComponent(ComponentInstance instance) {
    if (instance == nullptr) return paramErr;
    Component component = instance->component;
    ComponentResult result = component->entry(instance, kComponentCloseSelect, nullptr);
    {
        std::lock_guard lock(gLock);
        --component->instances;
    }
    delete instance;
    return ToOSErr(result);
}

Component GetComponentOf(ComponentInstance instance) { return instance ? instance->component : nullptr; }

void* GetComponentInstanceStorage(ComponentInstance instance) { return instance ? instance->storage : nullptr; }

void SetComponentInstanceStorage(ComponentInstance instance, void* storage) {
    if (instance) instance->storage = storage;
}

ComponentResult CallComponent(ComponentInstance instance, std::int16_t selector, void* params) {
    if (instance == nullptr) return badComponentSelector;
    // Open and close belong to OpenComponent and CloseComponent, which keep
    // the instance count and the record right.
    if (selector == kComponentOpenSelect || selector == kComponentCloseSelect) return badComponentSelector;
    return instance->component->entry(instance, selector, params);
}

ComponentResult DelegateComponentCall(ComponentInstance target, std::int16_t selector, void* params) {
    return CallComponent(target, selector, params);
}

ComponentResult ComponentFunctionImplemented(ComponentInstance instance, std::int16_t selector) {
    ComponentCanDoParams params{selector};
    ComponentResult result = CallComponent(instance, kComponentCanDoSelect, &params);
    return result == 1 ? 1 : 0;
}

ComponentResult GetComponentVersion(ComponentInstance instance) {
    return CallComponent(instance, kComponentVersionSelect, nullptr);
}
