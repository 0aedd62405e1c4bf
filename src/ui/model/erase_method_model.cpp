#include "ui/model/erase_method_model.h"

#include "discovery/erase_methods.h"

namespace palvoro {
namespace {

bool hasHpa(const EraseOffer& offer) { return offer.methods.hidden && offer.methods.hidden->hpaSectors() != 0; }

bool hidesSectors(const EraseOffer& offer) {
  return offer.methods.hidden && !hiddenAreaWarning(*offer.methods.hidden).empty();
}

bool liftApplies(PurgeMethod method) {
  return method == PurgeMethod::Overwrite || method == PurgeMethod::SecurityErase ||
         method == PurgeMethod::SecurityEraseEnhanced;
}

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool offerNeedsMethodChoice(const EraseOffer& offer) {
  for (const MethodSupport& support : offer.methods.methods) {
    if (support.method != PurgeMethod::Overwrite && support.offered) return true;
  }
  return hidesSectors(offer);
}

EraseMethodView eraseMethodView(const EraseOffer& offer) {
  EraseMethodView view;
  for (const MethodSupport& support : offer.methods.methods) {
    EraseMethodRow row;
    row.method = support.method;
    row.label = std::string(purgeMethodName(support.method)) + " (" + purgeCategory(support.method) + ")";
    row.sentence = purgeMethodSentence(support.method);
    row.enabled = support.offered;
    if (!support.offered) row.why = "Not offered: " + support.whyNot;
    row.preselected = support.offered && support.method == offer.methods.defaultMethod;
    view.rows.push_back(std::move(row));
  }
  view.fullOffered = !offer.quickOnly;
  if (offer.methods.hidden) view.hiddenWarning = hiddenAreaWarning(*offer.methods.hidden);
  view.hpaChoice = hasHpa(offer);
  return view;
}

HpaBoxes hpaBoxes(PurgeMethod method, bool liftChecked) {
  if (!liftApplies(method)) {
    return {false, false, "The drive's own sanitize and format cover the hidden sectors: nothing needs lifting."};
  }
  return {true, liftChecked, ""};
}

EraseChoice eraseChoiceOf(const EraseOffer& offer, PurgeMethod method, int32_t mode, bool liftHpa, bool restoreHpa,
                          const std::string& operatorName) {
  EraseChoice choice;
  choice.method = method;
  choice.mode = method == PurgeMethod::Overwrite && !offer.quickOnly && mode == 1 ? 1 : 0;
  choice.liftHpa = liftHpa && hasHpa(offer) && liftApplies(method);
  choice.restoreHpa = choice.liftHpa && restoreHpa;
  choice.operatorName = trimmed(operatorName);
  return choice;
}

}  // namespace palvoro
