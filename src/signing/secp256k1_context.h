// The one libsecp256k1 context of the process: created and randomised (blinding
// against side channels) on first use, read-only afterwards, so any thread may
// use it.
#pragma once

#include <secp256k1.h>

namespace orwenna {

const secp256k1_context* secp256k1Context();

}  // namespace orwenna
