#include "app/chat_replies.h"

namespace orwenna::Replies {
namespace {

bool ru(Language lang) { return lang == Language::russian; }

std::string cat(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {},
                std::string_view e = {}) {
  std::string out;
  out.reserve(a.size() + b.size() + c.size() + d.size() + e.size());
  out.append(a).append(b).append(c).append(d).append(e);
  return out;
}

}  // namespace

std::string sendGuard(std::string_view network, Language lang) {
  if (ru(lang))
    return cat("Деньги уходят только на сохранённые адреса, чтобы подменённый адрес не смог их получить. "
               "Сначала сохрани этот: фраза уже в поле — впиши имя вместо ИМЯ (и другую сеть, если это не ",
               network, "), отправь и сверь адрес на карточке. Потом скажи «отправь <сумма> USDC <имя>».");
  return cat("Money goes only to saved addresses, so a swapped address can't receive it. Save this one first: the "
             "phrase is in the field — put a name instead of NAME (and another network if it isn't ",
             network, "), send it, and check the address on the card. Then say “send <amount> USDC to <name>”.");
}

std::string saveComposer(std::string_view address, std::string_view network, Language lang) {
  return ru(lang) ? cat("save ", address, " как ИМЯ на ", network) : cat("save ", address, " as NAME on ", network);
}

std::string steering(bool withAddress, Language lang) {
  if (ru(lang))
    return cat("Похоже на попытку управлять ассистентом или подменить адрес. ",
               " Сообщение не ушло модели и ничего не изменило.",
               withAddress ? " Чтобы сохранить адрес, добавь его в адресную книгу — кнопка с книгой слева." : "");
  return cat("This looks like an attempt to steer the assistant or swap an address. ",
             " The message was not passed to the model and changed nothing.",
             withAddress ? " To keep an address, save it in Addresses — the book button in the rail." : "");
}

std::string yesFromDebug(Language lang) {
  if (ru(lang))
    return "Это «давай» пришло из отладочного интерфейса, а он не может подтверждать движения денег. "
           "Нажми Confirm на карточке в окне.";
  return "That «do it» came from the debug API, which can’t confirm money moves. In the window, press Confirm on "
         "the card.";
}

std::string yesWithCard(Language lang) {
  if (ru(lang))
    return "Нажми Confirm на карточке, чтобы продолжить — напечатанное «да» деньги не двигает, поэтому текст с "
           "сайта, заметка или вставленное сообщение не подтвердят за тебя. Карточка ждёт.";
  return "Press Confirm on the card to go ahead — a typed «yes» never moves money, so text from a site, a note or "
         "a pasted message can't confirm for you. The card keeps waiting.";
}

std::string yesNothingWaiting(Language lang) {
  if (ru(lang)) return "Сейчас нечего подтверждать. Скажи, что сделать — например «положи 1 USDC в Jupiter».";
  return "Nothing is waiting for a confirmation right now. Tell me what to do — for example “deposit 1 USDC into "
         "Jupiter”.";
}

std::string cancelled(Language lang) {
  switch (lang) {
    case Language::russian: return "Отменено — ничего не ушло.";
    case Language::spanish: return "Cancelado: no se movió nada.";
    case Language::english: break;
  }
  return "Cancelled — nothing moved.";
}

std::string questionDropped(Language lang) { return ru(lang) ? "Хорошо, не делаю." : "OK, not doing that."; }

std::string nothingToCancel(Language lang) {
  return ru(lang) ? "Хорошо — ничего не ждало подтверждения, ничего не ушло."
                  : "OK — nothing was waiting, nothing moved.";
}

std::string howMuch(Language lang) {
  return ru(lang) ? "Сколько? Просто число, например «1»." : "How much? Just the number, for example “1”.";
}

std::string questionIn(std::string_view place, Language lang) {
  if (ru(lang)) return cat("Вопрос про ", place, ": сколько? Просто число, например «1».");
  return cat("The question is in ", place, ": how much? Just the number, for example “1”.");
}

std::string lessThanSmallest(std::string_view smallest, Language lang) {
  if (ru(lang)) return cat("Это меньше наименьшей суммы здесь — ", smallest, ". Сколько?");
  return cat("That's less than the smallest amount here, ", smallest, ". How much?");
}

std::string commaAmount(std::string_view digits, Language lang) {
  if (ru(lang)) return cat("«", digits, "» — это тысячи или дробь? Напиши число без запятой, например «1000» или «1.5».");
  return cat("Is “", digits, "” thousands or a fraction? Write the number without a comma, for example “1000” or “1.5”.");
}

std::string siteOpen(std::string_view site, Language lang) {
  if (ru(lang))
    return cat(site, " открыт рядом с чатом вместе с твоим кошельком: сайт сначала попросит подключиться, и каждая "
               "подпись покажется здесь, прежде чем будет сделана.");
  return cat(site, " is open beside the chat with your wallet: the site asks to connect first, and every signature "
                   "shows here before it's made.");
}

std::string whatsNew(Language lang) {
  return ru(lang) ? "Что нового — на экране; это есть и в меню профиля."
                  : "What's new is on screen; it's also in the Profile menu.";
}

std::string builtLocally(Language lang) {
  if (ru(lang))
    return "Эта копия собрана на этом компьютере, поэтому сама не обновляется. Копия с сайта проверяет обновления "
           "раз в день.";
  return "This copy was built on this Mac, so it doesn't update itself. The copy from the site checks once a day.";
}

std::string takeOptions(bool withPlan, Language lang) {
  if (withPlan) {
    if (ru(lang))
      return "Три способа взять прибыль — на канвасе. Стоп остаётся тем же; выбери один или скажи свой, например "
             "«тейк 3R».";
    return "Three ways to take profit are on the canvas. The stop stays the same; pick one or say your own, e.g. "
           "“take 3R”.";
  }
  if (ru(lang)) return "Сначала опиши сделку — тогда покажу способы взять на ней прибыль.";
  return "Describe the trade first — then I’ll show the ways to take profit on it.";
}

std::string tokenNotTrusted(std::string_view token, Language lang) {
  if (ru(lang))
    return cat("Понял как «", token, "», но его адреса нет ни в твоём сообщении, ни в избранном, поэтому я его не "
                                     "использую. Вставь сам адрес.");
  return cat("Understood as “", token, "”, but its address is neither in your message nor among your favorites, so "
                                       "I won’t use it. Paste the address itself.");
}

std::string doubted(std::string_view command, std::string_view doubt, Language lang) {
  if (ru(lang))
    return cat("Понял как «", command, "», но вторая проверка этого не подтверждает: ", doubt,
               " Я ничего не запускал. Если ты это и имел в виду — выбери карточку, иначе скажи по-другому.");
  return cat("Understood as “", command, "”, but a second reading doesn't confirm it: ", doubt,
             " Nothing ran. If that’s what you meant, pick the card; otherwise say it another way.");
}

std::string prepared(std::string_view command, Language lang) {
  if (ru(lang)) return cat("Понял как «", command, "». Нажми Confirm.");
  return cat("Understood as “", command, "”. Press Confirm to go ahead.");
}

std::string inSteps(Language lang) {
  switch (lang) {
    case Language::russian: return "По шагам: ";
    case Language::spanish: return "Por pasos: ";
    case Language::english: break;
  }
  return "In steps: ";
}

std::string preparedSteps(std::string_view command, std::string_view steps, Language lang) {
  if (ru(lang)) return cat("Понял как «", command, "». ", inSteps(lang), cat(steps, ". Нажми Confirm."));
  return cat("Understood as “", command, "”. ", inSteps(lang), cat(steps, ". Press Confirm to go ahead."));
}

std::string planPlaced(std::string_view command, std::string_view check, Language lang) {
  if (ru(lang)) return cat("План на канвасе: ", command, check.empty() ? "." : cat(". ", check));
  return cat("The plan is on the canvas: ", command, check.empty() ? "." : cat(". ", check));
}

std::string planHelp(Language lang) {
  if (ru(lang)) return "Скажи изменение плана словами команды, например «стоп 1.5%» или «риск $20».";
  return "Say the change to the plan as a plan line, for example “stop 1.5%” or “risk $20”.";
}

std::string locked(Language lang) {
  return ru(lang) ? "Заблокировано: следующая подпись снова спросит пароль."
                  : "Locked: the next signature asks for your passphrase again.";
}

std::string notAvailable(std::string_view what, Language lang) {
  if (ru(lang)) return cat("«", what, "» в этой сборке пока недоступно — ничего не сделано.");
  return cat("“", what, "” isn't available in this build yet — nothing was done.");
}

std::string unreadableStep(std::string_view step, Language lang) {
  if (ru(lang)) return cat("Не смог прочитать «", step, "» как команду, поэтому ничего не запускал.");
  return cat("I couldn't read “", step, "” as a command, so nothing ran.");
}

std::string carried(std::string_view command, Language lang) {
  if (ru(lang)) return cat("Понял как «", command, "».");
  return cat("Understood as “", command, "”.");
}

std::string noPosition(std::string_view action, std::string_view command, Language lang) {
  if (ru(lang)) return cat("Открытых позиций нет — «", command, "» не к чему применить.");
  return cat("There’s no open position, so nothing to ", action, ".");
}

std::string whichPosition(std::string_view open, Language lang) {
  return ru(lang) ? cat("Какую позицию? Открыты: ", open, ".") : cat("Which position? Open: ", open, ".");
}

std::string nextOnCard(Language lang) {
  return ru(lang) ? "Дальше, когда это пройдёт: " : "Next, once this is through: ";
}

std::string correctedNote() { return " · corrected after a second reading"; }

std::string confirmNothing(Language lang) {
  return ru(lang) ? "Сейчас нечего подтверждать." : "Nothing is waiting for a confirmation right now.";
}

std::string confirmWithChange(Language lang) {
  if (ru(lang))
    return "Похоже на «да», но в нём есть число или изменение, поэтому ничего не подписано и карточка ждёт. Если это "
           "изменение, скажи его отдельно («сделай 800»); если нет — нажми Confirm на карточке.";
  return "That reads like a yes, but it has a number or a change in it, so nothing was signed and the card keeps "
         "waiting. If it's a change, say it as one («make it 800»); if not, press Confirm on the card.";
}

std::string confirmDoubted(std::string_view doubt, Language lang) {
  if (ru(lang))
    return cat("Похоже на «да», но вторая проверка не уверена: ", doubt,
               " Ничего не подписано. Нажми Confirm на карточке, если ты это и имел в виду.");
  return cat("That reads like a yes, but the second check isn't sure: ", doubt,
             " Nothing was signed. Press Confirm on the card if you meant it.");
}

std::string confirmPress(Language lang) {
  if (ru(lang)) return "Нажми Confirm на карточке — напечатанное «да» деньги не двигает. Карточка ждёт.";
  return "Press Confirm on the card to go ahead — a typed «yes» never moves money. The card keeps waiting.";
}

std::string checkedQuiet(Language lang) {
  return ru(lang) ? "Проверил: сейчас сообщать нечего." : "Checked: nothing to tell you now.";
}

std::string unreachable(std::string_view model, std::string_view reason, Language lang) {
  if (ru(lang))
    return cat("Не получилось связаться с ", model, " (", reason,
               "), поэтому ничего не сделал — ничего не ушло. Отправь ещё раз или выбери другую модель сверху.");
  return cat("I couldn’t reach ", model, " (", reason,
             "), so I didn’t act on this — nothing moved. Send it again, or pick another model above.");
}

std::string readMyself(std::string_view model, std::string_view reason, Language lang) {
  if (ru(lang))
    return cat(model, " не отвечает (", reason, "), поэтому это сообщение я прочитал сам. Для остального выбери "
                                               "другую модель сверху.");
  return cat(model, " isn't answering (", reason, "), so I read this one myself. Pick another model above for the rest.");
}

std::string notDownloaded(std::string_view model, std::string_view reason, Language lang) {
  if (ru(lang)) return cat("Модель ", model, " недоступна (", reason, "). Ничего не запускал. Выбери другую модель сверху.");
  return cat("I couldn’t reach ", model, " (", reason, "). Nothing ran. Pick another model above.");
}

std::string unreadable(std::string_view model, Language lang) {
  if (ru(lang))
    return cat(model, " ответила, но не в том виде, который orwenna может прочитать, поэтому ничего не запускал. "
                      "Скажи по-другому или выбери другую модель сверху.");
  return cat(model, " answered, but not in a form orwenna can read, so nothing ran. Say it another way, or pick "
                    "another model above.");
}

std::string stopped(Language lang) {
  return ru(lang) ? "Остановил — ничего не запускал. Напиши, что сделать вместо этого."
                  : "Stopped — nothing ran. Write what you'd like instead.";
}

}  // namespace orwenna::Replies
