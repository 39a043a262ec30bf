// `orwenna typed-data FILE`: reads the JSON of an eth_signTypedData_v4 request
// (FILE "-" reads standard input) and prints what the browser wallet would:
// the EIP-712 digest, the fields shown for review, and the refusal, if any.
// A refusal is an answer, not a failure: the exit status is 0 for any readable
// document and 1 for one that cannot be read.
#include <iostream>
#include <memory>

#include "base/files.h"
#include "orwenna/command.h"
#include "signing/typed_data.h"

namespace orwenna::cmd {

namespace {

struct Options {
  std::string file;
  bool json = false;
};

void run(const Options& options) {
  std::string text;
  if (options.file == "-") {
    text = readStandardInput();
  } else {
    auto content = readFile(options.file);
    if (!content) throw CommandFailure("Can't read " + options.file + ".");
    text = *content;
  }
  TypedData typed = TypedData::parse(text);
  auto refusal = TypedData::refusal(typed);

  if (options.json) {
    Json out = typed.toJson();
    out["digestHex"] = toHex0x(typed.digest);
    out["refusal"] = refusal ? Json(*refusal) : Json();
    std::cout << out.dump(2) << '\n';
    return;
  }
  std::cout << "Primary type: " << typed.primaryType << '\n';
  std::cout << "Domain: " << (typed.domainName.empty() ? "(no name)" : typed.domainName);
  if (!typed.chainId.empty()) std::cout << ", chain " << typed.chainId;
  if (!typed.verifyingContract.empty()) std::cout << ", contract " << typed.verifyingContract;
  std::cout << '\n';
  std::cout << "Digest: " << toHex0x(typed.digest) << '\n';
  std::cout << "Fields:" << (typed.fields.empty() ? " none" : "") << '\n';
  for (const auto& f : typed.fields) std::cout << "  " << f.name << " (" << f.type << "): " << f.value << '\n';
  if (refusal) {
    std::cout << "Refused for a site: " << *refusal << '\n';
  } else {
    std::cout << "Not refused: a site may ask the user to sign this.\n";
  }
}

CommandRegistrar typedDataRegistrar([](CLI::App& app) {
  auto options = std::make_shared<Options>();
  CLI::App* sub = app.add_subcommand(
      "typed-data", "print the digest, fields and refusal of an eth_signTypedData_v4 JSON file");
  sub->add_option("FILE", options->file, "the typed-data JSON file, or - for standard input")->required();
  sub->add_flag("--json", options->json, "print JSON instead of text");
  sub->callback([options] { run(*options); });
});

}  // namespace

}  // namespace orwenna::cmd
