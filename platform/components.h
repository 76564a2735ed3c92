// The component registry: in-process components found by description, opened
// as instances with private storage, and called by numbered selectors. The
// conversion engine is such a component; so are the helpers it opens.
//
// A call carries its selector and a pointer to a selector-specific parameter
// record. Each component's public header defines those records and small
// typed wrappers around CallComponent, so callers never handle raw pointers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/bytes.h"
#include "platform/status.h"

struct ComponentDescription {
    OSType componentType = 0;
    OSType componentSubType = 0;
    OSType componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
    std::uint32_t componentFlagsMask = 0;
};

struct ComponentRecord;
struct ComponentInstanceRecord;
using Component = ComponentRecord*;
using ComponentInstance = ComponentInstanceRecord*;

// The selectors every component knows.
inline constexpr std::int16_t kComponentOpenSelect = -1;
inline constexpr std::int16_t kComponentCloseSelect = -2;
inline constexpr std::int16_t kComponentCanDoSelect = -3;
inline constexpr std::int16_t kComponentVersionSelect = -4;
inline constexpr std::int16_t kComponentRegisterSelect = -5;
inline constexpr std::int16_t kComponentTargetSelect = -6;

// Parameters of the standard selectors.
struct ComponentCanDoParams {
    std::int16_t selector;
};

// The entry point of a component. `self` is the instance being called,
// `params` the selector's parameter record (for open: none; the instance's
// storage is set with SetComponentInstanceStorage during open).
using ComponentRoutine = ComponentResult (*)(ComponentInstance self, std::int16_t selector, void* params);

// Registers a component; answers it, or nullptr when the registry cannot grow.
Component RegisterComponent(const ComponentDescription& description, ComponentRoutine entry, std::string_view name);
[[nodiscard]] OSErr UnregisterComponent(Component component);

// The next registered component after `previous` (nullptr: the first) that
// matches. Zero type, subtype or maker fields of `looking` match anything;
// flags match when (flags & mask) == (looking.flags & mask), the mask being
// looking.componentFlagsMask.
Component FindNextComponent(Component previous, const ComponentDescription& looking);
std::int32_t CountComponents(const ComponentDescription& looking);
[[nodiscard]] OSErr GetComponentInfo(Component component, ComponentDescription* description, std::string* name);
// The component's reference value, shared by all its instances.
std::intptr_t GetComponentRefcon(Component component);
void SetComponentRefcon(Component component, std::intptr_t refcon);
std::int32_t CountComponentInstances(Component component);

// Opens an instance: allocates it and calls the open selector. An open that
// fails closes nothing and answers its error.
[[nodiscard]] OSErr OpenComponent(Component component, ComponentInstance& instance);
// The first component of that type and subtype.
[[nodiscard]] OSErr OpenDefaultComponent(OSType type, OSType subType, ComponentInstance& instance);
// Calls the close selector and frees the instance.
[[nodiscard]] OSErr CloseComponent(ComponentInstance instance);

Component GetComponentOf(ComponentInstance instance);
void* GetComponentInstanceStorage(ComponentInstance instance);
void SetComponentInstanceStorage(ComponentInstance instance, void* storage);

// Calls a selector of an instance.
[[nodiscard]] ComponentResult CallComponent(ComponentInstance instance, std::int16_t selector, void* params);
// Passes a call on unchanged to another instance.
[[nodiscard]] ComponentResult DelegateComponentCall(ComponentInstance target, std::int16_t selector, void* params);
// 1 when the instance implements the selector, else 0.
[[nodiscard]] ComponentResult ComponentFunctionImplemented(ComponentInstance instance, std::int16_t selector);
[[nodiscard]] ComponentResult GetComponentVersion(ComponentInstance instance);
