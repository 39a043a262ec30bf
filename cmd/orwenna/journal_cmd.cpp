// `orwenna journal [--open] [--json]`: the execution journal as it stands —
// every entry, or only the moves still open (signed, outcome unknown) — with
// their time, chain, id, kind and note.
#include <iostream>
#include <memory>

#include <fmt/format.h>

#include "base/files.h"
#include "execution/journal.h"
#include "orwenna/command.h"

namespace orwenna::cmd {

namespace {

struct JournalOptions {
  bool open = false;
  bool json = false;
};

void runJournal(const JournalOptions& options) {
  Journal journal = Journal::inDataFolder(AppPaths::fromEnvironment().dataDir);
  Journal::Contents contents = journal.read();
  std::vector<Journal::Entry> shown = options.open ? Journal::openAmong(contents.entries) : contents.entries;
  if (options.json) {
    Json list = Json::array();
    for (const auto& e : shown) list.push_back(e.toJson());
    Json out = Json::object();
    out["entries"] = std::move(list);
    out["skippedLines"] = contents.skippedLines;
    std::cout << out.dump(2) << '\n';
    return;
  }
  if (shown.empty()) {
    std::cout << (options.open ? "No unfinished moves." : "The journal is empty.") << '\n';
  }
  for (const auto& e : shown) {
    std::cout << fmt::format("{}  {:<11} {:<9} {}  {}\n", iso8601(e.at), e.chain, Journal::kindName(e.kind), e.id,
                             e.note);
  }
  if (contents.skippedLines > 0) {
    std::cout << fmt::format("{} unreadable {} skipped.\n", contents.skippedLines,
                             contents.skippedLines == 1 ? "line" : "lines");
  }
}

CommandRegistrar journalRegistrar([](CLI::App& app) {
  auto options = std::make_shared<JournalOptions>();
  CLI::App* sub = app.add_subcommand("journal", "list the execution journal: what was signed and what became of it");
  sub->add_flag("--open", options->open, "only the moves still open (signed, outcome not yet known)");
  sub->add_flag("--json", options->json, "print JSON instead of text");
  sub->callback([options] { runJournal(*options); });
});

}  // namespace

}  // namespace orwenna::cmd
