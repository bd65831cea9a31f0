// Entry points Initialize and GetSlotList: starting a module and slot discovery.
#include "native/java_data.h"
#include "kavro/result_code.h"
#include "native/token_call.h"
#include "token/slot_registry.h"
#include "token/token_module.h"

#include <jni.h>

using namespace kavro;

extern "C" {

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_Initialize(JNIEnv *, jclass, jint moduleKind) {
    return Shielded(
        [&]() -> jint {
            if (ModuleFunctions(moduleKind) == nullptr) {
                return kNoModule;
            }
            if (ModuleAuxFunctions(moduleKind) == nullptr) {
                return kNoModule;
            }
            return kOk;
        },
        kNoMemory);
}

JNIEXPORT jint JNICALL Java_Brelmont_Kavro_GetSlotList(JNIEnv *env, jclass, jint moduleKind, jintArray jSlotIds,
                                                       jintArray jSlotCount) {
    return Shielded(
        [&]() -> jint {
            CK_FUNCTION_LIST *functions = ModuleFunctions(moduleKind);
            if (functions == nullptr) {
                return kNoModule;
            }
            // Both arrays may be null; an array with no room is written nowhere.
            JavaInts slotIds(env, jSlotIds, GiveBack::kCopyBack);
            JavaInts slotCount(env, jSlotCount, GiveBack::kCopyBack);
            if (slotIds.Unavailable() || slotCount.Unavailable()) {
                return kBadArgument;
            }
            DiscoveryOutput output;
            output.slotIds = slotIds.Elements();
            output.slotIdCapacity = slotIds.Length();
            output.slotCount = slotCount.Length() >= 1 ? slotCount.Elements() : nullptr;
            int result = SlotRegistry::Instance().DiscoverSlots(functions, output);
            slotIds.Release();
            slotCount.Release();
            return result;
        },
        kNoMemory);
}

}  // extern "C"
