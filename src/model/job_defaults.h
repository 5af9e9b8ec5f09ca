#pragma once
// Where a new job's defaults and its filing come from: the settings'
// "Download default" values and the download rules. Kept apart from the
// record so that the record does not depend on the settings store.
//
// Thread: loop thread. Borrows the settings, the rules and the tree.
#include "config/download_rules.h"
#include "model/download_job.h"

namespace fetchora {

class AppSettings;
class CComPtrTree;

// The creation defaults as the settings give them now.
JobDefaults JobDefaultsFromSettings(const AppSettings& settings);

// Files a new job by the first matching download rule: the rule's Category
// becomes its categoryId and, while the job has no data yet, the Category's
// folder its saveFolder. Returns the rule that matched, or none.
const DownloadRule* ApplyDownloadRules(const DownloadRuleList& rules, DownloadJob& job, const CComPtrTree& tree);

}  // namespace fetchora
