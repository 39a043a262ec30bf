#include "chains/token_info.h"

#include "base/text.h"
#include "chains/abi.h"
#include "chains/abi_text.h"

namespace orwenna {

ERC20Info ERC20Info::read(const EVMRPC& rpc, const std::string& token, const std::string& network) {
  const std::string notToken = token + " doesn't answer like a token on " + network + ".";
  ERC20Info info;
  Bytes decimals;
  Bytes symbol;
  try {
    decimals = rpc.ethCall(token, ABI::call("decimals()", {}));
    symbol = rpc.ethCall(token, ABI::call("symbol()", {}));
  } catch (const EVMRPCError&) {
    throw ChainError(notToken);
  }
  if (decimals.size() != 32 || fromBigEndian(decimals) > UInt256(77)) throw ChainError(notToken);
  info.decimals = static_cast<int>(fromBigEndian(decimals));
  static const auto stringType = ABIType::parse("string");
  if (auto text = abi_text::decode({*stringType}, symbol); text && (*text)[0].is_string()) {
    info.symbol = (*text)[0].get<std::string>();
  } else if (symbol.size() == 32) {
    for (auto b : symbol) {
      if (b == 0) break;
      info.symbol += static_cast<char>(b);
    }
  } else {
    throw ChainError(notToken);
  }
  info.symbol = std::string(text::trimmed(text::sanitized(info.symbol)));
  if (info.symbol.empty()) throw ChainError(notToken);
  return info;
}

}  // namespace orwenna
