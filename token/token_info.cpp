// Token information: the token's serial number, read afresh on every call.
#include "kavro/result_code.h"
#include "token/module_call.h"
#include "token/token_slot.h"

#include <cstdio>
#include <cstring>

namespace kavro {

static_assert(sizeof(TokenSerial::text) >= kTokenSerialSize + 1, "room for the serial and a terminator");

std::size_t TokenSerial::Length() const { return strnlen(text, kTokenSerialSize); }

TokenSerial TokenSlot::ReadTokenSerial(CK_FUNCTION_LIST *functions) const {
    TokenSerial serial;
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof info);
    if (ModuleCall(functions->C_GetTokenInfo, slotId_, &info) == CKR_OK) {
        // Blank padding kept, nothing converted; the zero bytes after it
        // make it a text of at most 16 characters.
        std::memcpy(serial.text, info.serialNumber, kTokenSerialSize);
    } else {
        // Which PKCS #11 error it was is not kept.
        std::snprintf(serial.text, sizeof serial.text, "%d", static_cast<int>(kNoTokenSerial));
    }
    return serial;
}

}  // namespace kavro
