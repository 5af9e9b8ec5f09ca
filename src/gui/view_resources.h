#pragma once
// The views' icons live in a resource file of the static GUI library, which
// must be registered before the first icon is loaded. Safe to call often.
namespace fetchora {
void ensureViewResources();
}
