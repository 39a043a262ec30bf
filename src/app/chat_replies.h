// The conversation's fixed sentences, in the language of the chat. Each
// exists in English and Russian; the cancellation also in Spanish. Any other
// language falls back to English. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/language.h"

namespace orwenna::Replies {

std::string sendGuard(std::string_view network, Language lang);
std::string saveComposer(std::string_view address, std::string_view network, Language lang);
std::string steering(bool withAddress, Language lang);

std::string yesFromDebug(Language lang);
std::string yesWithCard(Language lang);
std::string yesNothingWaiting(Language lang);

std::string cancelled(Language lang);
std::string questionDropped(Language lang);
std::string nothingToCancel(Language lang);

std::string howMuch(Language lang);
std::string questionIn(std::string_view place, Language lang);
std::string lessThanSmallest(std::string_view smallest, Language lang);
std::string commaAmount(std::string_view digits, Language lang);

std::string siteOpen(std::string_view site, Language lang);
std::string whatsNew(Language lang);
std::string builtLocally(Language lang);
std::string takeOptions(bool withPlan, Language lang);

std::string tokenNotTrusted(std::string_view token, Language lang);
std::string doubted(std::string_view command, std::string_view doubt, Language lang);
std::string prepared(std::string_view command, Language lang);
std::string inSteps(Language lang);
// A route of several steps under one Confirm.
std::string preparedSteps(std::string_view command, std::string_view steps, Language lang);
std::string planPlaced(std::string_view command, std::string_view check, Language lang);
std::string planHelp(Language lang);
std::string locked(Language lang);
std::string notAvailable(std::string_view what, Language lang);
std::string unreadableStep(std::string_view step, Language lang);
std::string carried(std::string_view command, Language lang);
std::string noPosition(std::string_view action, std::string_view command, Language lang);
std::string whichPosition(std::string_view open, Language lang);
std::string nextOnCard(Language lang);
std::string correctedNote();

std::string confirmNothing(Language lang);
std::string confirmWithChange(Language lang);
std::string confirmDoubted(std::string_view doubt, Language lang);
std::string confirmPress(Language lang);
std::string checkedQuiet(Language lang);

std::string unreachable(std::string_view model, std::string_view reason, Language lang);
std::string readMyself(std::string_view model, std::string_view reason, Language lang);
std::string notDownloaded(std::string_view model, std::string_view reason, Language lang);
std::string unreadable(std::string_view model, Language lang);
std::string stopped(Language lang);

}  // namespace orwenna::Replies
