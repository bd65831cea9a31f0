// Object searches and attribute reads shared by the certificate listing and
// the key lookups.
#include "token/object_search.h"

#include "token/module_call.h"

namespace kavro {

ObjectSearch::ObjectSearch(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_ATTRIBUTE *searchTemplate,
                           CK_ULONG count)
    : functions_(functions), session_(session) {
    ModuleCall(functions_->C_FindObjectsInit, session_, searchTemplate, count);
}

ObjectSearch::~ObjectSearch() noexcept { ModuleCall(functions_->C_FindObjectsFinal, session_); }

CK_RV ObjectSearch::Next(CK_OBJECT_HANDLE &handle, CK_ULONG &found) {
    found = 0;
    return ModuleCall(functions_->C_FindObjects, session_, &handle, 1, &found);
}

CK_RV ReadAttributes(CK_FUNCTION_LIST *functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                     AttributeValue *attributes, std::size_t count) {
    std::vector<CK_ATTRIBUTE> query(count);
    for (std::size_t i = 0; i < count; ++i) {
        query[i] = CK_ATTRIBUTE{attributes[i].type, nullptr, 0};
    }
    const auto queryCount = static_cast<CK_ULONG>(count);
    CK_RV rv = ModuleCall(functions->C_GetAttributeValue, session, object, query.data(), queryCount);
    if (rv != CKR_OK) {
        return rv;
    }
    for (std::size_t i = 0; i < count; ++i) {
        // Neither "unavailable" nor a length beyond the cap is a length to allocate.
        if (query[i].ulValueLen == CK_UNAVAILABLE_INFORMATION || query[i].ulValueLen > kAttributeValueCap) {
            return CKR_FUNCTION_FAILED;
        }
        attributes[i].value.assign(query[i].ulValueLen, 0);
        query[i].pValue = attributes[i].value.data();
    }
    rv = ModuleCall(functions->C_GetAttributeValue, session, object, query.data(), queryCount);
    if (rv != CKR_OK) {
        return rv;
    }
    for (std::size_t i = 0; i < count; ++i) {
        // A module may report less than it announced, never more than it was given.
        if (query[i].ulValueLen == CK_UNAVAILABLE_INFORMATION || query[i].ulValueLen > attributes[i].value.size()) {
            return CKR_FUNCTION_FAILED;
        }
        attributes[i].value.resize(query[i].ulValueLen);
    }
    return CKR_OK;
}

}  // namespace kavro
