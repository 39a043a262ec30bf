// The model a command-line tool talks to: the provider named, or else the
// first connected one that is not a local app, with its stored credential.
#pragma once

#include <memory>
#include <string>

#include "app/services.h"
#include "llm/llm.h"
#include "llm/local_setup.h"

namespace orwenna::cmd {

struct ChosenModel {
  std::shared_ptr<LLMClient> client;
  std::string model;
  std::string providerID;
  std::string name;  // how replies name it
};

// Throws CommandFailure when nothing is connected or the choice can't be used.
ChosenModel connectModel(const Services& services, const std::string& providerID, const std::string& modelID);

// The local model setup as this user's machine has it: Ollama kept under the
// data folder, models where Ollama keeps them, programs found on $PATH.
LocalSetup localSetup(const Services& services);

// $PATH, or the usual folders when it is not set.
std::string searchPath();

}  // namespace orwenna::cmd
