#include "signing/secp256k1_context.h"

#include <openssl/rand.h>

#include "signing/secret.h"

namespace orwenna {

const secp256k1_context* secp256k1Context() {
  static secp256k1_context* ctx = [] {
    secp256k1_context* c = secp256k1_context_create(SECP256K1_CONTEXT_SIGN | SECP256K1_CONTEXT_VERIFY);
    std::uint8_t seed[32];
    // Without randomisation signing stays correct, only less blinded.
    if (RAND_bytes(seed, sizeof seed) == 1 && secp256k1_context_randomize(c, seed) != 1) seed[0] = 0;
    wipeBytes(seed);
    return c;
  }();
  return ctx;
}

}  // namespace orwenna
