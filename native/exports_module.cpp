// Entry points Initialize and GetSlotList: starting a module and slot discovery.
#include "native/java_data.h"
#include "native/token_call.h"
#include "token/slot_registry.h"

#include <jni.h>

using namespace kavro;

extern "C" {

// A module is started only with both its tables: the preamble's start is
// the whole call.
JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Initialize(JNIEnv *env, jclass, jint moduleKind) {
    return ModuleEntry(env, moduleKind, ModuleTables::kStandard, [](TokenCall &) -> jint { return kOk; });
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_GetSlotList(JNIEnv *env, jclass, jint moduleKind, jintArray jSlotIds,
                                                       jintArray jSlotCount) {
    return ModuleEntry(env, moduleKind, ModuleTables::kStandard, [&](TokenCall &call) -> jint {
        // Both arrays may be null; an array with no room is written nowhere.
        JavaInts &slotIds = call.Ints(jSlotIds, GiveBack::kCopyBack);
        JavaInts &slotCount = call.Ints(jSlotCount, GiveBack::kCopyBack);
        if (slotIds.Unavailable() || slotCount.Unavailable()) {
            return kBadArgument;
        }
        DiscoveryOutput output;
        output.slotIds = slotIds.Elements();
        output.slotIdCapacity = slotIds.Length();
        output.slotCount = slotCount.Length() >= 1 ? slotCount.Elements() : nullptr;
        return call.module->slots.DiscoverSlots(*call.module, output);
    });
}

}  // extern "C"
