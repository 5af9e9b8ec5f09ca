#pragma once
// "Site Properties" for the focused job: opens the stored site rule that
// covers the job's URL in the site rule dialog, or a new rule for the job's
// site when none does, and stores the result through
// Application::changeSettings.
//
// Thread: the GUI thread (the loop thread).
#include <optional>

#include "config/site_rules.h"

class QWidget;

namespace fetchora {

class AppSettings;
class Application;
class DownloadJob;

struct SitePropertiesTarget {
    SiteRule rule;
    // The rule's place in the stored list; -1 for a new rule.
    int storedIndex = -1;
};

// What the command edits for the job; none when the job's URL does not parse.
// A rule the program learnt for this run only is not edited in place: the
// new stored rule starts from it.
std::optional<SitePropertiesTarget> sitePropertiesFor(const AppSettings& settings, const DownloadJob& job);

// Stores the edited rule over the target (or adds it when new) and saves.
bool storeSiteProperties(Application& app, const SitePropertiesTarget& target, const SiteRule& edited);

// Runs the dialog; true when a rule was changed and saved.
bool showSiteProperties(Application& app, const DownloadJob& job, QWidget* parent);

}  // namespace fetchora
