#include "gui/view_resources.h"

#include <QtGlobal>

#include <mutex>

static void initViewsResource()
{
    Q_INIT_RESOURCE(views);
}

namespace fetchora {

void ensureViewResources()
{
    static std::once_flag once;
    std::call_once(once, initViewsResource);
}

}  // namespace fetchora
