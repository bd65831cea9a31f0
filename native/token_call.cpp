// Giving back the Java data of a token call.
#include "native/token_call.h"

namespace kavro {

void TokenCall::GiveBack() noexcept {
    for (std::size_t i = 0; i < takenCount_; ++i) {
        taken_[i].end(taken_[i].guard);
    }
    takenCount_ = 0;
}

}  // namespace kavro
