#pragma once
// The erase method dialog without its widgets: one row per method the drive was asked
// about, in the order the offer lists them (strongest first after the overwrite), which
// of them can be chosen and why not, the one chosen when it opens, what the Host
// Protected Area boxes mean for the method chosen, and the EraseChoice the dialog's state
// comes to. Every text here the widgets show as it stands.

#include <cstdint>
#include <string>
#include <vector>

#include "device/purge.h"
#include "service/run_service.h"

namespace palvoro {

// One method's radio button and the lines beneath it.
struct EraseMethodRow {
  PurgeMethod method = PurgeMethod::Overwrite;
  std::string label;     // "sanitize-block (Purge)": the method's name and the category it meets
  std::string sentence;  // what it does, in one sentence
  bool enabled = false;  // the drive offers it
  std::string why;       // "Not offered: <the drive's reason>"; "" when offered
  bool preselected = false;
};

// What the dialog shows for one offer.
struct EraseMethodView {
  std::vector<EraseMethodRow> rows;
  bool fullOffered = true;    // the overwrite's full form can be chosen
  std::string hiddenWarning;  // what the drive hides and what reaches it; "" when nothing
  bool hpaChoice = false;     // the drive has a Host Protected Area: the lift and restore boxes show
};

// The Host Protected Area boxes for the method chosen.
struct HpaBoxes {
  bool liftEnabled = false;
  bool restoreEnabled = false;  // only once the area is to be lifted
  std::string note;             // why they do not apply; "" when they do
};

// The overwrite's two forms, as the older erase dialogs word them.
inline constexpr const char* kQuickEraseText = "QUICK ERASE erases the first and last million sectors of the drive.";
inline constexpr const char* kFullEraseText = "FULL ERASE erases the entire drive.";

// Whether the offer needs more than the quick/full choice: the drive offers a method of
// its own, or hides sectors from the host.
[[nodiscard]] bool offerNeedsMethodChoice(const EraseOffer& offer);

[[nodiscard]] EraseMethodView eraseMethodView(const EraseOffer& offer);

// Lifting the area matters only to the methods that write what the host sees: the
// overwrite and the security erase. The drive's sanitize and format reach every sector.
[[nodiscard]] HpaBoxes hpaBoxes(PurgeMethod method, bool liftChecked);

// What the dialog's state comes to: the mode only for the overwrite (quick when the full
// form is not offered), the area lifted only where that applies and the drive has one,
// put back only when lifted, the operator's name without surrounding blanks.
[[nodiscard]] EraseChoice eraseChoiceOf(const EraseOffer& offer, PurgeMethod method, int32_t mode, bool liftHpa,
                                        bool restoreHpa, const std::string& operatorName);

}  // namespace palvoro
