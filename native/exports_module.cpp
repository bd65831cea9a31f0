// Entry points Initialize and GetSlotList: starting a module and slot discovery.
#include "native/java_data.h"
#include "native/token_call.h"

#include <jni.h>

#include <algorithm>
#include <cstddef>

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
        DiscoveredSlots found;
        const int result = call.Module().slots.DiscoverSlots(call.Module(), found);
        // No more ids than the array holds; the count tells the true number.
        const std::size_t written = std::min(found.withToken.size(), static_cast<std::size_t>(slotIds.Length()));
        for (std::size_t i = 0; i < written; ++i) {
            slotIds.Elements()[i] = ToJavaId(found.withToken[i]);
        }
        if (found.counted && slotCount.Length() >= 1) {
            slotCount.Elements()[0] = static_cast<jint>(found.withToken.size());
        }
        return result;
    });
}

}  // extern "C"
